// The link to the server closed after every byte offset of a reply, for an
// exchange of each kind on both links: each run ends in the exchange's failure
// or in its whole outcome, never in part of one passed off as all of it; the
// next exchange on the connection reports the closed link, and the
// connection can still be closed.
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const net = require('node:net');
const path = require('node:path');
const { fork } = require('node:child_process');
const { isDeepStrictEqual: same } = require('node:util');
const { rizezova } = require('./support/driver');
const { startStandin } = require('../../tools/standin/launch');

const CLOSED = { Error: '[EJ1024] database connection is closed' };
const CONNECT_FAILED = "Connect to Database failed! connection params error or Server can't reach 1";
const ROWS = 20003; // two blocks of the server cursor

// A proxy in front of the server that passes the server's bytes on until
// `cut` of them have gone on one connection, then closes that connection.
// It notes where each reply starts: the server's byte count when the client
// spoke.
async function startCutter(upstream) {
  const cutter = { cut: Infinity, last: null };
  cutter.server = net.createServer((client) => {
    const server = net.connect(upstream.port, upstream.host);
    const seen = { passed: 0, starts: [] };
    cutter.last = seen;
    let open = true;
    const close = () => {
      open = false;
      server.destroy();
    };
    client.on('data', (chunk) => {
      if (!open) return;
      if (seen.starts.at(-1) !== seen.passed) seen.starts.push(seen.passed);
      server.write(chunk);
    });
    server.on('data', (chunk) => {
      if (!open) return;
      const room = cutter.cut - seen.passed;
      if (chunk.length < room) {
        seen.passed += chunk.length;
        client.write(chunk);
        return;
      }
      seen.passed += room;
      client.end(chunk.subarray(0, room));
      close();
    });
    server.on('close', () => client.end());
    client.on('close', close);
    client.on('error', () => {});
    server.on('error', () => {});
  });
  await new Promise((resolve) => cutter.server.listen(0, '127.0.0.1', resolve));
  cutter.port = cutter.server.address().port;
  return cutter;
}

// The driver runs in a child: its calls block.
function startRunner() {
  const child = fork(path.join(__dirname, 'support', 'exchange_runner.js'), [String(ROWS)], {
    stdio: ['ignore', 'ignore', 'inherit', 'ipc'],
  });
  const run = (message) => new Promise((resolve, reject) => {
    const exited = (code) => reject(new Error(`the runner exited with ${code} on ${JSON.stringify(message)}`));
    child.once('exit', exited);
    child.once('message', (answer) => {
      child.removeListener('exit', exited);
      resolve(answer);
    });
    child.send(message);
  });
  return { run, stop: () => child.kill() };
}

// Offsets to cut at: every byte of every reply, but in a long one (a block
// of rows) the rows in its middle, which the reader meets alike, are stood
// for by its first and last bytes and a spread of others.
const LONG = 4096;
function cutOffsets(starts, end) {
  const offsets = [];
  const bounds = [...starts, end];
  for (let i = 0; i + 1 < bounds.length; i++) {
    const [from, to] = [bounds[i], bounds[i + 1]];
    const spread = Math.ceil((to - from) / 6);
    for (let k = from; k < to; k++) {
      if (to - from <= LONG || k - from < 48 || to - k <= 24 || (k - from) % spread === 0) offsets.push(k);
    }
  }
  return offsets;
}

const sumTo = (n) => (n * (n + 1)) / 2;
// What a failed run of each exchange must look like.
const FAILED = {
  login: (got) => got === CONNECT_FAILED,
  cursor: ([err, n, sum]) => same(err, CLOSED) && sum === sumTo(n),
  reader: ([n, sum, texts]) => texts.includes(CLOSED.Error) && sum === sumTo(n),
  // The row id may have come before the cut.
  insert: ([err, rows]) => same(err, CLOSED) && rows.length === 1,
  prepared: ([err]) => same(err, CLOSED),
  lob: ([err]) => same(err, CLOSED),
  select: (got) => same(got, [CLOSED, [], []]),
};

let standin;
let cutter;
let runner;
before(async () => {
  standin = await startStandin({ buildDir: path.join(__dirname, '..', '..', 'build', 'release') });
  const conn = rizezova.createConnection({ host: standin.host, port: standin.port });
  for (const sql of ['CREATE TABLE big (x INT)',
    `INSERT INTO big WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < ${ROWS}) SELECT x FROM n`,
    'CREATE TABLE one (id INTEGER PRIMARY KEY, v VARCHAR(10))', "INSERT INTO one VALUES (1, 'x'), (2, 'a'), (3, 'b')",
    'CREATE TABLE doc (body CLOB)', `INSERT INTO doc VALUES ('${'lob '.repeat(50)}')`]) {
    conn.query(sql, (err) => assert.equal(err, null, sql));
  }
  conn.destry();
  cutter = await startCutter(standin);
  runner = startRunner();
});
after(async () => {
  runner.stop();
  cutter.server.close();
  await standin.stop();
});

for (const link of ['plain', 'encrypted']) {
  for (const exchange of Object.keys(FAILED)) {
    // The query object meets a broken link alike on either.
    if (exchange === 'reader' && link === 'encrypted') continue;
    test(`${exchange} on the ${link} link, cut after every byte of its replies`, async () => {
      const connString = `IP=127.0.0.1;Port=${cutter.port}${link === 'encrypted' ? ';USE_SSL=on' : ''}` +
        `${exchange === 'lob' ? ';LOB_RET=1' : ''}`;
      cutter.cut = Infinity;
      // Cuts in the login are the login's own.
      await runner.run({ exchange: 'login', connString });
      const from = exchange === 'login' ? 0 : cutter.last.passed;
      const whole = await runner.run({ exchange, connString, alone: true });
      const { starts, passed } = cutter.last;
      let failures = 0;
      for (const cut of cutOffsets(starts.filter((s) => s >= from), passed)) {
        cutter.cut = cut;
        const { outcome, after: next } = await runner.run({ exchange, connString });
        if (!FAILED[exchange](outcome)) {
          assert.deepEqual(outcome, whole.outcome, `cut after ${cut} of ${passed} bytes`);
        } else {
          failures++;
        }
        if (exchange !== 'login') assert.deepEqual(next, [CLOSED, []], `the next exchange after a cut at ${cut}`);
      }
      assert.ok(failures > 0);
    });
  }
}
