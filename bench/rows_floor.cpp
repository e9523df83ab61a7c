// The floor under the script binding's row rate: the same SELECT read
// through the client library alone, every value taken with VMC_GetData as
// the binding takes it, no script values made. Run by bench/rows.js beside
// the script measurements; prints the seconds of each run, one per line.
//
//   rows_floor HOST PORT SQL RUNS
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "client/vmc.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s HOST PORT SQL RUNS\n", argv[0]);
    return 2;
  }
  const std::string conn_str = std::string("IP=") + argv[1] + ";Port=" + argv[2];
  const char* sql = argv[3];
  const int runs = std::atoi(argv[4]);
  VMC_Handle conn = nullptr;
  if (VMC_OpenConn(conn_str.c_str(), &conn) < 0) {
    std::fprintf(stderr, "rows_floor: cannot connect\n");
    return 1;
  }
  for (int run = 0; run < runs; ++run) {
    const auto start = std::chrono::steady_clock::now();
    VMC_Handle result = nullptr;
    int fields = 0;
    int64_t rows = 0;
    int affected = 0;
    if (VMC_ExecuteQuery(&conn, sql, &result, &fields, &rows, &affected) < 0) return 1;
    int types[64] = {};
    for (int c = 0; c < fields && c < 64; ++c) VMC_GetColType(&result, c + 1, &types[c]);
    char text[64];
    long long count = 0;
    double sink = 0;
    while (VMC_Fetch(&result) == 0) {
      for (int c = 0; c < fields && c < 64; ++c) {
        int len = 0;
        if (types[c] == 2) {
          VMC_GetData(&result, c + 1, 2, text, sizeof text, &len);
          sink += text[0];
        } else {
          double value[2] = {};
          VMC_GetData(&result, c + 1, types[c], value, 8, &len);
          sink += len;
        }
      }
      ++count;
    }
    VMC_FreeResult(&result);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.6f %lld %g\n", seconds, count, sink > 0 ? 1.0 : 0.0);
  }
  VMC_CloseConn(&conn);
  return 0;
}
