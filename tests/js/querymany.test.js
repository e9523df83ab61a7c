// querymany against the stand-in server: rows by position and by name, the
// outcome its callback hears, refusals and argument checks.
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { rizezova, startPeer, closedPort } = require('./support/driver');
const { startStandin } = require('../../tools/standin/launch');

const MISMATCH = 'executemany Parameter mismatch';
const NUL_IN_SQL = 'The sql text contains a NUL character.';
const CLOSED = { Error: '[EJ1024] database connection is closed' };
const NOT_RUN = { Error: 'querymany runs INSERT, UPDATE, DELETE and other statements, but not SELECT, CREATE, ' +
  'ALTER or EXEC; run those with query' };

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

// The callback's calls of one querymany.
function many(...args) {
  const calls = [];
  assert.equal(conn.querymany(...args, (...got) => calls.push(got)), undefined);
  return calls;
}
function select(sql, values = []) {
  let rows;
  conn.query(sql, values, (err, r) => { assert.equal(err, null); rows = r; });
  return rows;
}
const statuses = (n, status) => Array.from({ length: n }, () => status);
const INSERTED = { 'new RowId': '' };

test('rows insert, update and delete by position and by name, each reported once', () => {
  conn.query('CREATE TABLE m (id INT PRIMARY KEY, name VARCHAR(20), price DOUBLE)', () => {});

  const byPosition = Array.from({ length: 1500 }, (_, i) => [i, `item ${i}`, i / 4]);
  assert.deepEqual(many('INSERT INTO m VALUES (?, ?, ?)', byPosition), [[null, statuses(1500, INSERTED)]]);
  const byName = Array.from({ length: 500 }, (_, i) => ({ price: -i, id: 1500 + i, name: `named ${i}` }));
  assert.deepEqual(many({ sql: 'INSERT INTO m VALUES (:id, :name, :price)', values: byName }),
    [[null, statuses(500, INSERTED)]]);
  assert.deepEqual(select('SELECT count(*) AS n, sum(price) AS s FROM m WHERE id >= 1498 AND id < 1502'),
    [{ n: 4, s: 1498 / 4 + 1499 / 4 + 0 - 1 }]);
  assert.deepEqual(select("SELECT name FROM m WHERE id = 1777"), [{ name: 'named 277' }]);

  const updates = [{ id: 1, name: 'one' }, { id: 2, name: 'two' }, { id: 99999, name: 'nobody' }];
  assert.deepEqual(many('UPDATE m SET name = :name WHERE id = :id', updates),
    [[null, statuses(3, { 'UPDATE EFFECTNUM': 0 })]]);
  assert.deepEqual(select('SELECT name FROM m WHERE id < 3 ORDER BY id'),
    [{ name: 'item 0' }, { name: 'one' }, { name: 'two' }]);

  const deletes = Array.from({ length: 1000 }, (_, i) => [2 * i]);
  assert.deepEqual(many('DELETE FROM m WHERE id = ?', deletes), [[null, statuses(1000, { 'DELETE EFFECTNUM': 0 })]]);
  assert.deepEqual(select('SELECT count(*) AS n FROM m'), [{ n: 1000 }]);

  // Without placeholders the statement runs once per row; without a
  // callback nothing is reported.
  conn.querymany('INSERT INTO m (id) VALUES (-1)', [[]]);
  assert.deepEqual(many("UPDATE m SET name = 'x' WHERE id = -1", [[], {}]),
    [[null, statuses(2, { 'UPDATE EFFECTNUM': 0 })]]);
  assert.deepEqual(select('SELECT name FROM m WHERE id = -1'), [{ name: 'x' }]);
});

test('a failing row is reported and the rows after it still run; a SELECT is refused', () => {
  conn.query('CREATE TABLE u (id INT PRIMARY KEY)', () => {});
  const [[error, done]] = many('INSERT INTO u VALUES (?)', [[1], [1], [2]]);
  assert.match(error.Error, /UNIQUE|constraint/i);
  assert.deepEqual(done, statuses(3, INSERTED));
  assert.deepEqual(select('SELECT id FROM u ORDER BY id'), [{ id: 1 }, { id: 2 }]);

  // A statement the server cannot prepare fails on every row.
  const [[missing, tried]] = many('INSERT INTO nowhere VALUES (?)', [[1], [2]]);
  assert.equal(typeof missing.Error, 'string');
  assert.deepEqual(tried, statuses(2, INSERTED));

  // Rows a statement returns that end at a server error fail their row.
  const [[overflow]] = many('UPDATE u SET id = id WHERE id > ? RETURNING abs(id - 9223372036854775807 - 2) AS v',
    [[0]]);
  assert.match(overflow.Error, /integer overflow/);

  const refused = { Error: "[EC026]Error querymany can't surpport a select_sql  \n" };
  assert.deepEqual(many('SELECT id FROM u WHERE id = ?', [[1], [2]]), [[refused, []]]);
  assert.deepEqual(many('SELECT id FROM u WHERE id = ?', []), [[null, []]]);
  assert.deepEqual(many('INSERT INTO u VALUES (?)', [[3]]), [[null, [INSERTED]]]);
  assert.deepEqual(select('SELECT count(*) AS n FROM u'), [{ n: 3 }]);
});

test('a statement the server will not prepare: each row reports the server\'s reason and its status', () => {
  for (const [sql, rows, status, reason] of [
    ['INSERT INTO nowhere VALUES (?)', [[1], [2]], INSERTED, '[ES001]no such table: nowhere'],
    ['UPDATE nowhere SET a = :a', [{ a: 1 }], { 'UPDATE EFFECTNUM': 0 }, '[ES001]no such table: nowhere'],
  ]) {
    assert.deepEqual(many(sql, rows), [[{ Error: reason }, statuses(rows.length, status)]], sql);
    assert.deepEqual(select('SELECT :x AS b', { x: 7 }), [{ b: 7 }], sql);
  }
});

test('no values are left behind for the next statement, whatever the outcome', () => {
  conn.query('CREATE TABLE lb (a INT)', () => {});
  const refused = { Error: "[EC026]Error querymany can't surpport a select_sql  \n" };
  const tooBig = { Error: 'The value of parameter :a is a BigInt out of the signed 64-bit range' };
  for (const [sql, rows, outcome] of [
    ['SELECT a FROM lb WHERE a = :a', [{ a: 42 }], [refused, []]],
    // CREATE, ALTER and EXEC are refused whatever the rows, before anything is sent.
    ['CREATE TABLE lb_never (a INT)', [{ a: 42 }], [NOT_RUN, []]],
    ['ALTER TABLE lb ADD COLUMN never INT', [], [NOT_RUN, []]],
    ['EXEC proc1(:a)', [{ a: 1 }], [NOT_RUN, []]],
    ['INSERT INTO lb VALUES (:a)', [], [null, []]],
    ['INSERT INTO lb_nowhere VALUES (:a)', [{ a: 42 }], null], // PREPARE refused
    ['INSERT INTO lb VALUES (:a)', [{ a: 2n ** 64n }, { a: 1 }], [tooBig, [INSERTED]]],
  ]) {
    const calls = many(sql, rows);
    if (outcome) assert.deepEqual(calls, [outcome], sql);
    assert.deepEqual(select('SELECT :x AS b', { x: 7 }), [{ b: 7 }], sql);
  }
  // The refused row sent nothing, nor did the refused statements.
  assert.deepEqual(select('SELECT a FROM lb'), [{ a: 1 }]);
  assert.deepEqual(select("SELECT count(*) AS n FROM sqlite_master WHERE sql LIKE '%never%'"), [{ n: 0 }]);
});

test('the arguments are checked in order, and an unopened connection is opened first', async () => {
  const calls = [];
  const cb = (...got) => calls.push(got);
  for (const [args, message] of [
    [[], MISMATCH],
    [[undefined], MISMATCH],
    [['INSERT INTO u VALUES (1)'], MISMATCH],
    [[undefined, []], 'The first argument undefined.'],
    [['INSERT INTO u VALUES (?)', [], cb, 4], 'Wrong arguments number'],
    [[5, [[1]]], 'Error: The args Query sql is needed '],
    [[null, [[1]], cb], 'Error: The args Query sql is needed '],
    [['INSERT INTO u VALUES (?)', 'rows', cb], MISMATCH],
    [['INSERT INTO u VALUES (?)', cb], MISMATCH],
    [[{ sql: 'INSERT INTO u VALUES (?)', values: { 0: [1] } }, cb], MISMATCH],
    [['DELETE FROM u\0 WHERE id = ?', [[1]], cb], NUL_IN_SQL],
    [[{ sql: 'DELETE FROM u\0 WHERE id = ?', values: [[1]] }, cb], NUL_IN_SQL],
  ]) {
    assert.throws(() => conn.querymany(...args), { name: 'TypeError', message }, JSON.stringify(args));
  }
  assert.deepEqual(calls, []);

  const fresh = rizezova.createConnection({ host: server.host, port: server.port });
  fresh.querymany(cb);
  assert.deepEqual(calls, [[null]]);
  assert.throws(() => fresh.connect(), { message: 'The Connection is already Opened !' });
  fresh.disconnect();
  assert.throws(() => fresh.querymany('INSERT INTO u VALUES (?)', [[1]], cb), { message: 'The Connection is Not Open!' });

  const unreachable = rizezova.createConnection({ host: '127.0.0.1', port: await closedPort() });
  for (let i = 0; i < 2; i++) {
    assert.throws(() => unreachable.querymany('INSERT INTO u VALUES (?)', [[1]], cb),
      { message: "Connect to Database failed! connection params error or Server can't reach" });
  }
  assert.equal(calls.length, 1);
});

test('a row getter may throw or close the connection; a broken link ends in one report', async () => {
  conn.query('CREATE TABLE g (a INT)', () => {});
  const throwing = { get a() { throw new Error('from a getter'); } };
  assert.throws(() => conn.querymany('INSERT INTO g VALUES (:a)', [{ a: 1 }, throwing, { a: 3 }], () => {}),
    /from a getter/);
  assert.deepEqual(select('SELECT a FROM g'), [{ a: 1 }]);
  // The statement was released: the next call prepares afresh.
  assert.deepEqual(many('INSERT INTO g VALUES (?)', [[2]]), [[null, [INSERTED]]]);

  const other = rizezova.createConnection({ host: server.host, port: server.port });
  const closing = { get a() { other.end(); return 9; } };
  const calls = [];
  other.querymany('INSERT INTO g VALUES (:a)', [{ a: 4 }, closing, { a: 5 }], (...got) => calls.push(got));
  assert.deepEqual(calls, [[CLOSED, [INSERTED]]]);
  assert.deepEqual(select('SELECT a FROM g ORDER BY a'), [{ a: 1 }, { a: 2 }, { a: 4 }]);

  // The server answers PREPARE and then drops the link.
  const peer = await startPeer('prepare-drop');
  try {
    const dropped = rizezova.createConnection({ host: peer.host, port: peer.port });
    const got = [];
    dropped.querymany('INSERT INTO g VALUES (?)', [[1], [2]], (...args) => got.push(args));
    dropped.querymany('INSERT INTO g VALUES (?)', [[1], [2]], (...args) => got.push(args));
    assert.deepEqual(got, [[CLOSED, [INSERTED, INSERTED]], [CLOSED, []]]);
    dropped.destry();
  } finally {
    await peer.stop();
  }
});
