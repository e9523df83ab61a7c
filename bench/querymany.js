// Rows per second of querymany inserting 10,000 rows of (int, varchar(20),
// double) into the stand-in server, beside the floor of one request/reply
// round trip per row on the same link: 10,000 calls of commit() with no
// transaction open, which the server answers at once. querymany runs in
// auto-commit mode on one link and inside a transaction on a second link (a
// transaction leaves auto-commit off for good), each beside the floor of its
// own link. Runs are interleaved; medians are reported, with the script
// process's own CPU time per row, which tells the driver's share of a row's
// time from the server's and the link's.
//
//   node bench/querymany.js [runs]
'use strict';
const { rizezova } = require('../tests/js/support/driver');
const { startStandin } = require('../tools/standin/launch');

const ROWS = 10000;
const runs = Number(process.argv[2] || 7);

// Wall seconds and CPU microseconds per row of one timed call.
function timed(fn) {
  const cpu = process.cpuUsage();
  const start = process.hrtime.bigint();
  fn();
  const used = process.cpuUsage(cpu);
  return { wall: Number(process.hrtime.bigint() - start) / 1e9, cpu: (used.user + used.system) / ROWS };
}
const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];

const rows = Array.from({ length: ROWS }, (_, i) => [i, `name-${i}`, i / 4]);

function check(err) {
  if (err) throw new Error(err.Error || err);
}

function floor(conn) {
  return timed(() => {
    for (let i = 0; i < ROWS; i++) conn.commit(check);
  });
}

function querymany(conn, inTransaction) {
  conn.query('DELETE FROM t', check);
  let done = 0;
  const t = timed(() => {
    if (inTransaction) conn.beginTransaction(check);
    conn.querymany('INSERT INTO t VALUES (?, ?, ?)', rows, (err, statuses) => {
      check(err);
      done = statuses.length;
    });
    if (inTransaction) conn.commit(check);
  });
  if (done !== ROWS) throw new Error(`querymany ran ${done} rows`);
  return t;
}

async function main() {
  const server = await startStandin();
  const conn = rizezova.createConnection({ host: server.host, port: server.port });
  const txConn = rizezova.createConnection({ host: server.host, port: server.port });
  const times = { floor: [], querymany: [], 'floor, link 2': [], 'in a transaction': [] };
  try {
    conn.query('CREATE TABLE t (id INT, name VARCHAR(20), price DOUBLE)', check);
    txConn.connect();
    for (let r = 0; r < runs; r++) {
      times.floor.push(floor(conn));
      times.querymany.push(querymany(conn, false));
      times['floor, link 2'].push(floor(txConn));
      times['in a transaction'].push(querymany(txConn, true));
    }
  } finally {
    conn.end();
    txConn.end();
    await server.stop();
  }
  const rate = (name) => ROWS / median(times[name].map((t) => t.wall));
  const cpu = (name) => median(times[name].map((t) => t.cpu)).toFixed(1);
  const floorOf = { querymany: 'floor', 'in a transaction': 'floor, link 2' };
  console.log(`${ROWS} rows, ${runs} runs, medians:`);
  for (const name of Object.keys(times)) {
    const note = floorOf[name] ? `  (${(rate(floorOf[name]) / rate(name)).toFixed(2)}x its floor's time)`
      : '  (one round trip per row)';
    console.log(`  ${name.padEnd(17)} ${Math.round(rate(name))} rows/s, script CPU ${cpu(name)} us/row${note}`);
  }
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});
