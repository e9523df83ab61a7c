// Values on their way back to the script: single-value answers of odd
// types, dates in a time zone other than UTC, and rows stored past the
// setters a script may have put on prototypes.
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const { rizezova, modulePath, startPeer } = require('./support/driver');
const { startStandin } = require('../../tools/standin/launch');

let server;
let conn;
before(async () => {
  server = await startStandin();
  conn = rizezova.createConnection({ host: server.host, port: server.port });
});
after(async () => {
  conn.destry();
  await server.stop();
});

function run(c, sql, ...values) {
  let got;
  c.query(sql, ...values, (...args) => { got = args; });
  return got;
}

test('a single-value answer is read by its kind, whatever its type code; with a callback its rows come', async () => {
  const peer = await startPeer('odd-values');
  try {
    const c = rizezova.createConnection({ host: peer.host, port: peer.port });
    const converted = { Error: 'data type conversion error' };
    for (const [sql, err, rows, fields] of [
      // A row id or a count, then a result set of a type code of 100 or
      // more: a callback has the rows, as of a SELECT.
      ['INSERT INTO t VALUES (1)', null, [{ a: '\x01\x02\x03\x04' }], [{ ColName: 'a', Type: 10005 }]],
      ['INSERT INTO type107 VALUES (1)', converted, [{ a: null }], [{ ColName: 'a', Type: 2 }]],
      ['INSERT INTO type164 VALUES (1)', converted, [{ a: null }], [{ ColName: 'a', Type: 2 }]],
      ['UPDATE t SET a = 1', null, [{ a: '\x01\x02\x03\x04' }], [{ ColName: 'a', Type: 10005 }]],
      // A value too long for the single-value answer.
      ["INSERT INTO t VALUES ('long')", null, [{ t: 'x'.repeat(100) }], [{ ColName: 't', Type: 2 }]],
    ]) {
      assert.deepEqual(run(c, sql), [err, rows, fields], sql);
      // Without a callback the single value is read, and dropped.
      let error;
      c.query(sql).on('error', (e) => { error = e; });
      assert.equal(error, null, sql);
    }
    const reports = [];
    c.beginTransaction((err) => reports.push(err));
    assert.deepEqual(reports, [null]);
    c.destry();
  } finally {
    await peer.stop();
  }
});

// Runs body in a process of its own whose zone is `zone`, with `c` a
// connection to the stand-in and `readAll(sql, n, pick)` the picked values of
// n rows through query, on('result') and nextRecord; body fills `out`, which
// comes back.
function inZone(zone, body) {
  const script = `
    const c = require(${JSON.stringify(modulePath)}).createConnection(${JSON.stringify({ host: server.host, port: server.port })});
    const readAll = (sql, n, pick) => {
      const got = {};
      c.query(sql, (err, rows) => { got.query = err || rows.map(pick); });
      for (const [mode, read] of [['result', (q, cb) => q.on('result', cb)], ['nextrecord', (q, cb) => q.nextRecord('nextrecord', cb)]]) {
        const q = c.query(sql);
        got[mode] = [];
        for (let i = 0; i < n; i++) read(q, (r) => got[mode].push(pick(r)));
      }
      return got;
    };
    const out = {};
    ${body}
    c.destry();
    process.stdout.write(JSON.stringify(out));
  `;
  const child = spawnSync(process.execPath, ['-e', script], { env: { ...process.env, TZ: zone }, timeout: 20000 });
  assert.equal(child.status, 0, child.stderr.toString());
  return JSON.parse(child.stdout.toString());
}

const MODES = ['query', 'result', 'nextrecord'];

test('dates come back as the local date and time they were written, in any time zone', () => {
  run(conn, 'CREATE TABLE dates (n INT, d DATE, t DATETIME)');
  // The server keeps wall clocks.
  const body = `
    const cases = [[2024, 0, 15, 8, 30, 0], [2024, 6, 1, 23, 59, 59], [2024, 9, 27, 2, 30, 0], [1969, 11, 31, 23, 0, 0]];
    for (const [i, [y, mo, d, h, mi, s]] of cases.entries()) {
      c.query('INSERT INTO dates VALUES (?, ?, ?)', [i, new Date(y, mo, d), new Date(y, mo, d, h, mi, s)], () => {});
    }
    out.expected = cases.map(([y, mo, d, h, mi, s]) => [new Date(y, mo, d).getTime(), new Date(y, mo, d, h, mi, s).getTime()]);
    out.read = readAll('SELECT d, t FROM dates ORDER BY n', cases.length, (r) => [r.d.getTime(), r.t.getTime()]);
  `;
  for (const zone of ['Europe/Berlin', 'America/New_York']) {
    run(conn, 'DELETE FROM dates');
    const out = inZone(zone, body);
    for (const mode of MODES) assert.deepEqual(out.read[mode], out.expected, `${zone} ${mode}`);
  }
});

test('a Date binds as its local second in any zone, the last second of 1969 and years before 1000 among them', () => {
  run(conn, 'CREATE TABLE edge_dates (n INT, t DATETIME)');
  const body = `
    const times = [-1, -1000, -1001, 0, new Date(2024, 2, 31, 2, 30, 15, 250).getTime(), new Date(999, 0, 1).getTime(),
      new Date(1, 0, 1).setFullYear(1), new Date(9999, 11, 31, 23, 59, 59).getTime()];
    out.errors = [];
    out.expected = times.map((t) => Math.floor(t / 1000) * 1000);
    times.forEach((t, i) => c.query('INSERT INTO edge_dates VALUES (?, ?)', [i, new Date(t)], (err) => out.errors.push(err)));
    // Years that no datetime text holds are refused, not stored as NULL.
    for (const d of [new Date(10000, 0, 1), new Date(0, 0, 1).setFullYear(0), new Date(-8.64e15)]) {
      c.query('INSERT INTO edge_dates VALUES (?, ?)', [99, new Date(d)], (err) => out.errors.push(err));
    }
    out.got = readAll('SELECT t FROM edge_dates ORDER BY n', times.length, (r) => r.t && r.t.getTime()).query;
  `;
  const refused = { Error: 'The value of parameter 2 is a Date outside the years 1 to 9999' };
  for (const zone of ['UTC', 'Europe/Berlin', 'America/New_York']) {
    run(conn, 'DELETE FROM edge_dates');
    const out = inZone(zone, body);
    assert.deepEqual(out.errors, [...Array(8).fill(null), refused, refused, refused], zone);
    assert.deepEqual(out.got, out.expected, zone);
  }
});

test('a datetime of any 64-bit value reads as the Date of its wall clock, or as an invalid Date beyond their range', () => {
  const edges = ['-9223372036854775808', '9223372036854775807', '-8640000000000001', '-8640000000000000',
    '8640000000000000', '8640000000000001', '-1', '0'];
  run(conn, 'CREATE TABLE far (n INT, t DATETIME)');
  edges.forEach((ms, i) => run(conn, `INSERT INTO far VALUES (${i}, ${ms})`));
  const body = `
    // The Date whose local fields are the wall clock's, as the Date constructor makes it.
    const local = (ms) => {
      if (Math.abs(ms) > 8.64e15) return NaN;
      const w = new Date(ms);
      return new Date(w.getUTCFullYear(), w.getUTCMonth(), w.getUTCDate(), w.getUTCHours(), w.getUTCMinutes(),
        w.getUTCSeconds(), w.getUTCMilliseconds()).getTime();
    };
    out.expected = ${JSON.stringify(edges)}.map((ms) => local(Number(ms)));
    out.read = readAll('SELECT t FROM far ORDER BY n', ${edges.length}, (r) => r.t.getTime());
  `;
  for (const zone of ['UTC', 'Europe/Berlin', 'America/New_York']) {
    const out = inZone(zone, body);
    if (zone === 'UTC') assert.deepEqual(out.expected, [null, null, null, -8.64e15, 8.64e15, null, -1, 0]);
    for (const mode of MODES) assert.deepEqual(out.read[mode], out.expected, `${zone} ${mode}`);
  }
});

test('a binary column gives back its bytes whole as a Buffer, through query and both query-object modes', () => {
  run(conn, 'CREATE TABLE bin (n INT, b BLOB, vb VARBINARY(4))');
  const every = Buffer.from(Array.from({ length: 256 }, (_, i) => i));
  const png = Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]);
  const long = Buffer.alloc(100000, every);
  const values = [[every, png], [Buffer.from([0, 0, 1]), Buffer.from([0x80, 0xff, 0, 0xfe, 0x7f, 0xc0])],
    [long, null], [null, Buffer.from([0])]];
  values.forEach(([b, vb], n) => assert.deepEqual(run(conn, 'INSERT INTO bin VALUES (?, ?, ?)', [n, b, vb])[0], null));
  const sql = 'SELECT b, vb FROM bin ORDER BY n';
  const [err, rows, fields] = run(conn, sql);
  assert.equal(err, null);
  assert.deepEqual(fields, [{ ColName: 'b', Type: 15 }, { ColName: 'vb', Type: 15 }]);
  assert.deepEqual(rows, values.map(([b, vb]) => ({ b, vb })));
  // A query object gives a NULL as an empty Buffer.
  const empty = Buffer.alloc(0);
  for (const read of [(q, cb) => q.on('result', cb), (q, cb) => q.nextRecord('nextrecord', cb)]) {
    const q = conn.query(sql);
    const got = [];
    for (let i = 0; i < values.length; i++) read(q, (row) => got.push(row));
    assert.deepEqual(got, values.map(([b, vb]) => ({ b: b || empty, vb: vb || empty })));
  }
});

test('rows are stored past setters that a script put on prototypes', () => {
  run(conn, 'CREATE TABLE many (x INT)');
  run(conn, 'INSERT INTO many WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < 5000) ' +
    'SELECT x FROM n');
  const ran = [];
  const setter = { set(v) { ran.push(v); }, configurable: true };
  // Elements at the start and at the start of a later block of rows.
  for (const proto of [Object.prototype, Array.prototype]) {
    for (const key of ['0', '4096']) Object.defineProperty(proto, key, setter);
  }
  let got;
  try {
    got = run(conn, 'SELECT x FROM many ORDER BY x');
  } finally {
    for (const proto of [Object.prototype, Array.prototype]) {
      for (const key of ['0', '4096']) delete proto[key];
    }
  }
  const [err, rows, fields] = got;
  assert.equal(err, null);
  assert.deepEqual(ran, []);
  assert.equal(rows.length, 5000);
  assert.deepEqual([rows[0], rows[4096], rows[4999]], [{ x: 1 }, { x: 4097 }, { x: 5000 }]);
  assert.deepEqual(fields, [{ ColName: 'x', Type: 5 }]);
});
