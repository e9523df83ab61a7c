// Load: 64 connections from four processes against the stand-in server,
// 1,000 mixed statements each (cursors, query objects, inserts, updates,
// deletes, querymany, transactions committed and rolled back), while the
// connections of a fifth process drop in the middle of a transaction. Every
// answer is checked as it comes, no row is lost or left over, and resident
// memory stays flat.
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { fork } = require('node:child_process');
const { rizezova } = require('./support/driver');
const { startStandin } = require('../../tools/standin/launch');

const PROCESSES = 4;
const CONNECTIONS = 16;
const STATEMENTS = 1000;
const BIG_ROWS = 25000;
const DROPPER = PROCESSES; // the worker number of the process that drops
// Under AddressSanitizer freed memory is held back for a while: resident
// memory says nothing there.
const SANITIZED = (process.env.LD_PRELOAD || '').includes('libasan');
const GROWTH_LIMIT = 4 << 20;

let server;
let conn;
before(async () => {
  server = await startStandin();
  conn = rizezova.createConnection({ host: server.host, port: server.port });
  for (const sql of ['CREATE TABLE load (w INT, c INT, j INT, v VARCHAR(10))', 'CREATE INDEX load_wcj ON load (w, c, j)',
    'CREATE TABLE shared (id INT, label VARCHAR(20), price DOUBLE)',
    "INSERT INTO shared WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < 100) SELECT x, 'item ' || x, x / 4.0 FROM n",
    'CREATE TABLE big (x INT)',
    `INSERT INTO big WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < ${BIG_ROWS}) SELECT x FROM n`]) {
    conn.query(sql, (err) => assert.equal(err, null, sql));
  }
});
after(async () => {
  conn.destry();
  await server.stop();
});

function startWorker(worker, options) {
  const args = JSON.stringify({
    // Writers of other processes wait for each other's transactions.
    connString: `IP=${server.host};Port=${server.port};LOCK_TIMEOUT=60000`,
    worker, connections: CONNECTIONS, statements: STATEMENTS, bigRows: BIG_ROWS, ...options,
  });
  const child = fork(path.join(__dirname, 'support', 'load_worker.js'), [args], {
    execArgv: ['--expose-gc'], stdio: ['ignore', 'ignore', 'inherit', 'ipc'],
  });
  const messages = [];
  child.on('message', (m) => messages.push(m));
  const exited = new Promise((resolve) => child.once('exit', (code, signal) => resolve({ code, signal, messages })));
  return { child, exited };
}

test('64 connections of 1,000 statements each lose nothing while others drop', async () => {
  const workers = Array.from({ length: PROCESSES }, (_, w) => startWorker(w));
  const dropper = startWorker(DROPPER, { connections: 8, dropAt: 300 });
  dropper.child.on('message', (m) => { if (m.dropping) dropper.child.kill('SIGKILL'); });

  assert.equal((await dropper.exited).signal, 'SIGKILL');
  const done = await Promise.all(workers.map((w) => w.exited));
  let counts;
  conn.query('SELECT w, c, count(*) AS n FROM load GROUP BY w, c ORDER BY w, c', (err, rows) => {
    assert.equal(err, null);
    counts = rows;
  });
  // What the dropped connections never committed is gone.
  conn.query("SELECT count(*) AS n FROM load WHERE v = 'never'", (err, rows) => assert.deepEqual(rows, [{ n: 0 }]));

  done.forEach(({ code, messages }, w) => {
    assert.equal(code, 0, `worker ${w}`);
    const { rows, samples } = messages.at(-1);
    // Every ten statements leave five rows: one insert, three of querymany,
    // two of a committed transaction, one deleted; a rolled back one leaves none.
    const expected = rows.map((n, c) => ({ w, c, n: STATEMENTS / 2 }));
    assert.deepEqual(counts.filter((r) => r.w === w), expected);
    // Memory handed back to the system now and then makes dips; what was
    // kept is the highest reading. Its last third rises above its first
    // only by a leak.
    const third = Math.floor(samples.length / 3);
    const [early, late] = [Math.max(...samples.slice(0, third)), Math.max(...samples.slice(-third))];
    if (!SANITIZED) assert.ok(late - early < GROWTH_LIMIT, `worker ${w} grew from ${early} to ${late} bytes`);
  });
});
