// query and the query object against the stand-in server: statement kinds,
// column values, placeholders, server cursors and errors.
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { setFlagsFromString } = require('node:v8');
const { runInNewContext } = require('node:vm');
const { rizezova, startPeer, objectRows } = require('./support/driver');
const { startStandin } = require('../../tools/standin/launch');

let server;
let conn;
const connect = () => rizezova.createConnection({ host: server.host, port: server.port });

// What the callback of one query got.
function run(sql, ...values) {
  let got;
  conn.query(sql, ...values, (...args) => { got = args; });
  return got;
}

before(async () => {
  server = await startStandin();
  conn = connect();
  run('CREATE TABLE kinds (k INT, i INT, b BIGINT, v VARCHAR(20), d DOUBLE, f FLOAT, si SMALLINT, ti TINYINT, ' +
    'yes BOOLEAN, no BOOLEAN, dt DATE, ts DATETIME, tm TIME, n NUMERIC(10,2), bl BLOB, cl CLOB)');
  run("INSERT INTO kinds VALUES (1, -7, 9007199254740993, 'h\u00e9llo \u2713 \ud834\udd1e', 1.5, 2.5, -3, 7, 1, 0, " +
    "'2024-02-29', '2024-02-29 12:34:56.789', '12:34:56', 12.34, x'414243', 'clob text')");
  run('INSERT INTO kinds (k) VALUES (2)');
  run('CREATE TABLE big (x INT, label VARCHAR(20))');
  run("INSERT INTO big WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < 45000) " +
    "SELECT x, 'row ' || x FROM n");
});
after(async () => {
  conn.destry();
  await server.stop();
});

test('each statement kind answers with its status object, also when it fails', () => {
  assert.deepEqual(run('CREATE TABLE s (a INT, b VARCHAR(10))'), [null, [], []]);
  assert.deepEqual(run("INSERT INTO s VALUES (1, 'x')"), [null, [{ 'new RowId': '1' }], []]);
  run("INSERT INTO s VALUES (2, 'y')");
  run("INSERT INTO s VALUES (3, 'z')");
  assert.deepEqual(run('UPDATE s SET b = b'), [null, [{ 'UPDATE EFFECTNUM': 3 }], []]);
  assert.deepEqual(run('DELETE FROM s WHERE a > 1'), [null, [{ 'DELETE EFFECTNUM': 2 }], []]);
  assert.deepEqual(run('SELECT a FROM s WHERE a > 5'), [null, [], [{ ColName: 'a', Type: 5 }]]);

  const failed = [
    ['UPDATE nowhere SET a = 1', [{ 'UPDATE EFFECTNUM': 0 }]],
    ['DELETE FROM nowhere', [{ 'DELETE EFFECTNUM': 0 }]],
    ['INSERT INTO nowhere VALUES (1)', [{ 'new RowId': '' }]],
    ['SELECT missing FROM s', []],
    ['DROP TABLE nowhere', []],
  ];
  for (const [sql, rows] of failed) {
    const [err, gotRows, fields] = run(sql);
    assert.match(err.Error, /no such (table|column)/, sql);
    assert.deepEqual([gotRows, fields], [rows, []], sql);
  }
});

test('several statements answer with the status object of what the last row id or count was', () => {
  run('CREATE TABLE k (y INT)');
  const nowhere = { Error: '[ES001]no such table: nowhere' };
  for (const [sql, err, status] of [
    ['INSERT INTO k VALUES (7); UPDATE k SET y = y', null, { 'UPDATE EFFECTNUM': 1 }],
    ['UPDATE k SET y = y; INSERT INTO k VALUES (8)', null, { 'new RowId': '2' }],
    ['UPDATE k SET y = y; DELETE FROM k WHERE y = 8', null, { 'DELETE EFFECTNUM': 1 }],
    // Without a row id or count in the reply, the first word decides.
    ['DELETE FROM k WHERE 0; CREATE TABLE k2 (a)', null, { 'DELETE EFFECTNUM': 0 }],
    // A failing statement leaves what came before it.
    ['DELETE FROM k WHERE y = 7; INSERT INTO nowhere VALUES (1)', nowhere, { 'DELETE EFFECTNUM': 1 }],
  ]) {
    assert.deepEqual(run(sql), [err, [status], []], sql);
  }
});

test('an INSERT, UPDATE or DELETE whose reply carries rows delivers them as a SELECT does, running once', () => {
  run('CREATE TABLE ret (a INT, s VARCHAR(10))');
  run("INSERT INTO ret VALUES (1, 'a'), (2, 'b'), (3, 'c')");
  const f = (...cols) => cols.map(([ColName, Type]) => ({ ColName, Type }));
  const many = Array.from({ length: 250 }, (_, i) => ({ a: 101 + i }));
  for (const [sql, err, rows, fields] of [
    ["UPDATE ret SET s = s || '+' WHERE a >= 2 RETURNING a, s", null, [{ a: 2, s: 'b+' }, { a: 3, s: 'c+' }],
      f(['a', 5], ['s', 2])],
    ['UPDATE ret SET a = a WHERE a > 999 RETURNING a', null, [], f(['a', 5])],
    // More rows than the first batch of the reader.
    ['INSERT INTO ret SELECT x + 100, NULL FROM big WHERE x <= 250 RETURNING a', null, many, f(['a', 5])],
    ["UPDATE ret SET s = 'x' WHERE a = 1; SELECT s FROM ret WHERE a = 1", null, [{ s: 'x' }], f(['s', 2])],
    ['DELETE FROM ret WHERE a > 100 RETURNING a; SELECT count(*) AS n FROM ret', null, [many, [{ n: 3 }]],
      [f(['a', 5]), f(['n', 6])]],
    // A reply of counts, and a failure, answer with the status object.
    ["UPDATE ret SET s = 'y' WHERE a = 1", null, [{ 'UPDATE EFFECTNUM': 1 }], []],
    ['UPDATE nowhere SET a = 1 RETURNING a', { Error: '[ES001]no such table: nowhere' },
      [{ 'UPDATE EFFECTNUM': 0 }], []],
  ]) {
    assert.deepEqual(run(sql), [err, rows, fields], sql);
  }
  const [, [inserted]] = run("INSERT INTO ret VALUES (5, 'e')");
  assert.match(inserted['new RowId'], /^\d+$/);
  // Without a callback the statement runs as before, for a query object without rows.
  const q = conn.query("UPDATE ret SET s = s || '!' WHERE a = 5 RETURNING a");
  const seen = [];
  q.on('result', (r) => seen.push(r));
  q.on('error', (e) => seen.push(e));
  assert.deepEqual(seen, [null, null]);
  assert.deepEqual(run('SELECT a, s FROM ret ORDER BY a')[1],
    [{ a: 1, s: 'y' }, { a: 2, s: 'b+' }, { a: 3, s: 'c+' }, { a: 5, s: 'e!' }]);
});

test('columns arrive by type in the rows of query, of on("result") and of nextRecord', () => {
  const sql = 'SELECT i, b, v, d, f, si, ti, yes, no, dt, ts, tm, n, bl, cl FROM kinds ORDER BY k';
  const day = new Date(2024, 1, 29);
  const stamp = new Date(2024, 1, 29, 12, 34, 56, 789);
  const bytes = (text) => new Uint8Array(Buffer.from(text)).buffer;
  const full = {
    i: -7, b: 9007199254740992, v: 'h\u00e9llo \u2713 \ud834\udd1e', d: 1.5, f: 2.5, si: -3, ti: 7,
    dt: day, ts: stamp, tm: '12:34:56', n: '12.34', bl: Buffer.from('ABC'),
  };
  const [err, rows, fields] = run(sql);
  assert.equal(err, null);
  assert.deepEqual(fields.map((f) => [f.ColName, f.Type]), [['i', 5], ['b', 6], ['v', 2], ['d', 8], ['f', 7],
    ['si', 4], ['ti', 3], ['yes', 1], ['no', 1], ['dt', 10], ['ts', 13], ['tm', 11], ['n', 9], ['bl', 15], ['cl', 41]]);
  assert.deepEqual(rows[0], { ...full, yes: true, no: false, cl: bytes('clob text') });
  const nulls = Object.fromEntries(Object.keys(rows[0]).map((k) => [k, null]));
  assert.deepEqual(rows[1], { ...nulls, cl: new ArrayBuffer(0) });

  // A query object gives booleans and LOBs as text, and NULLs as 0, "", an
  // empty Buffer and null; a NULL number is thrown as a TypeError after the
  // row went out.
  for (const event of ['result', 'nextrecord']) {
    const { rows: got, errors } = objectRows(conn.query(sql), event, 3);
    assert.deepEqual(got[0], { ...full, yes: 'T', no: 'F', cl: 'clob text' }, event);
    const empty = { i: 0, b: 0, v: '', d: 0, f: 0, si: 0, ti: 0, yes: '', no: '', dt: null, ts: null, tm: '', n: '',
      bl: Buffer.alloc(0), cl: '' };
    assert.deepEqual(got.slice(1), [empty, empty], event);
    assert.deepEqual(errors, [null, 'data null error', 'data null error'], event);
  }
});

test('a value longer than its column says is cut to its buffer and reported, every row kept', () => {
  run('CREATE TABLE cut (a VARCHAR(2), b VARCHAR(1))');
  run("INSERT INTO cut VALUES ('abcdefghij', 'klmnop')");
  run("INSERT INTO cut VALUES ('ab', 'c')");
  assert.deepEqual(run('SELECT a, b FROM cut'),
    [{ Error: 'data truncation error' }, [{ a: 'abcdef', b: 'klm' }, { a: 'ab', b: 'c' }],
      [{ ColName: 'a', Type: 2 }, { ColName: 'b', Type: 2 }]]);
});

test('a value that fills the buffer of its column exactly comes whole, one byte more is cut', () => {
  // A column of two characters reads into 3 x 2 + 1 bytes; a value that starts
  // with a zero byte reads as empty text.
  run('CREATE TABLE edge (a VARCHAR(2))');
  for (const v of ['abcdefg', 'abcdefgh']) run(`INSERT INTO edge VALUES ('${v}')`);
  run("INSERT INTO edge VALUES (CAST(x'0061' AS TEXT))");
  assert.deepEqual(run('SELECT a FROM edge'), [{ Error: 'data truncation error' },
    [{ a: 'abcdefg' }, { a: 'abcdef' }, { a: '' }], [{ ColName: 'a', Type: 2 }]]);
  for (const event of ['result', 'nextrecord']) {
    const { rows, errors } = objectRows(conn.query('SELECT a FROM edge'), event, 3);
    assert.deepEqual(rows, [{ a: 'abcdefg' }, { a: 'abcdef' }, { a: '' }], event);
    assert.deepEqual(errors, [null, null, null], event);
  }
});

test('placeholders take values by position and by name, of every kind', () => {
  const when = new Date(2024, 1, 29, 12, 34, 56, 789);
  const [err, [row]] = run('SELECT ? AS i, ? AS u, ? AS d, ? AS s, ? AS t, ? AS f, ? AS dt, ? AS bad, ? AS n, ' +
    '? AS z, ? AS buf, ? AS obj', [7, 3000000000, 2.5, 'z\u00f3\u0142w \u2713', true, false, when,
    new Date(NaN), null, undefined, Buffer.from('abc'), { a: 1 }]);
  assert.equal(err, null);
  assert.deepEqual(row, { i: 7, u: 3000000000, d: 2.5, s: 'z\u00f3\u0142w \u2713', t: 1, f: 0,
    dt: '2024-02-29 12:34:56', bad: null, n: null, z: null, buf: Buffer.from('abc'), obj: null });

  for (const [values, expected] of [
    [{ id: 2, name: 'x' }, { a: 2, b: 'x' }],
    [[5, 'y'], { a: 5, b: 'y' }], // no property of those names: the elements by index
    [{ id: 3, 1: 'by index' }, { a: 3, b: 'by index' }],
  ]) {
    assert.deepEqual(run('SELECT :id AS a, :name AS b', values)[1], [expected], JSON.stringify(values));
  }
  // Without values, or with no object to look in, every placeholder is NULL.
  assert.deepEqual(run('SELECT ? AS a, ? AS b')[1], [{ a: null, b: null }]);
  assert.deepEqual(run('SELECT ? AS a', 5)[1], [{ a: null }]);

  // Neither the number of placeholders nor the length of a name is limited.
  const names = Array.from({ length: 120 }, (_, i) => `a_rather_long_parameter_name_${i}`);
  const sum = run(`SELECT ${names.map((n) => `:${n}`).join(' + ')} AS total`,
    Object.fromEntries(names.map((n, i) => [n, i])));
  assert.deepEqual(sum[1], [{ total: (119 * 120) / 2 }]);
});

test('Buffers bind their bytes and BigInts 64-bit integers; what cannot go out whole sends nothing', () => {
  const bytes = [0xff, 0x41, 0x00, 0x42];
  for (const [value, hex] of [
    [Buffer.from(bytes), 'FF410042'],
    [new Uint8Array(bytes), 'FF410042'],
    [new Uint16Array([0x4100, 0x00ff]), '0041FF00'],
    [new DataView(new Uint8Array(bytes).buffer, 1, 2), '4100'],
  ]) {
    assert.deepEqual(run('SELECT hex(?) AS h, typeof(?) AS t', [value, value])[1], [{ h: hex, t: 'blob' }], hex);
  }
  for (const value of [9007199254740993n, -(2n ** 63n), 2n ** 63n - 1n]) {
    assert.deepEqual(run('SELECT CAST(:v AS TEXT) AS v, typeof(:v) AS t', { v: value })[1],
      [{ v: String(value), t: 'integer' }]);
  }

  run('CREATE TABLE sent (a INT, b INT)');
  const tooBig = (name) => ({ Error: `The value of parameter ${name} is a BigInt out of the signed 64-bit range` });
  assert.deepEqual(run('INSERT INTO sent VALUES (:a, :b)', { a: 1, b: 2n ** 63n }), [tooBig(':b'), [], []]);
  assert.deepEqual(run('INSERT INTO sent VALUES (?, ?)', [-(2n ** 63n) - 1n, 1]), [tooBig('1'), [], []]);
  const errors = [];
  conn.query('INSERT INTO sent VALUES (?, ?)', [1, 2n ** 64n]).on('error', (e) => errors.push(e));
  assert.deepEqual(errors, [tooBig('2').Error]);
  // A zero byte would end the text early on its way to the server.
  assert.throws(() => run('UPDATE sent SET b = 1\0 WHERE a = 999'),
    { name: 'TypeError', message: 'The sql text contains a NUL character.' });
  assert.throws(() => conn.query({ sql: 'DELETE FROM sent\0 WHERE a = 999' }),
    { name: 'TypeError', message: 'The sql text contains a NUL character.' });
  assert.deepEqual(run('SELECT count(*) AS n FROM sent')[1], [{ n: 0 }]);
});

test('rows of a statement not classed as a SELECT reach the callback, and the link stays in step', () => {
  run('CREATE TABLE step (a INT)');
  run('INSERT INTO step VALUES (1)');
  run('INSERT INTO step VALUES (2)');
  const names = (fields) => fields.map((f) => (Array.isArray(f) ? names(f) : f.ColName));
  for (const [sql, rows, fields] of [
    ['WITH x AS (SELECT 1 AS a) SELECT a FROM x', [{ a: 1 }], ['a']],
    ['\tSELECT a FROM step ORDER BY a', [{ a: 1 }, { a: 2 }], ['a']],
    ['/* first */ SELECT 3 AS c', [{ c: 3 }], ['c']],
    ['VALUES (4)', [{ column1: 4 }], ['column1']],
    ['PRAGMA user_version', [{ user_version: 0 }], ['user_version']],
    ["SELECT 'a;b;c;d;e' AS s", [{ s: 'a;b;c;d;e' }], ['s']],
    ['SELECT 1 AS a; SELECT 2 AS b, 3 AS c', [[{ a: 1 }], [{ b: 2, c: 3 }]], [['a'], ['b', 'c']]],
    // Counts between result sets are passed over.
    ['SELECT 1 AS a; UPDATE step SET a = a; SELECT 2 AS b', [[{ a: 1 }], [{ b: 2 }]], [['a'], ['b']]],
    ['\tUPDATE step SET a = a', [], []],
  ]) {
    const [err, gotRows, gotFields] = run(sql);
    assert.deepEqual([err, gotRows, names(gotFields)], [null, rows, fields], sql);
    assert.deepEqual(run('UPDATE step SET a = a')[1], [{ 'UPDATE EFFECTNUM': 2 }], sql);
    assert.deepEqual(run('SELECT a FROM step ORDER BY a')[1], [{ a: 1 }, { a: 2 }], sql);
  }
  const [err, rows, fields] = run('\tSELECT a FROM nowhere');
  assert.match(err.Error, /no such table/);
  assert.deepEqual([rows, fields], [[], []]);
});

test('a SELECT larger than a block of the server cursor reads whole and in order', () => {
  const [err, rows] = run('SELECT x, label FROM big ORDER BY x');
  assert.equal(err, null);
  assert.equal(rows.length, 45000);
  for (const i of [0, 19999, 20000, 39999, 40000, 44999]) assert.deepEqual(rows[i], { x: i + 1, label: `row ${i + 1}` });

  const q = conn.query('SELECT x FROM big ORDER BY x');
  let last;
  for (let i = 0; i < 45000; i++) q.nextRecord('nextrecord', (row) => { last = row.x; });
  assert.equal(last, 45000);
});

test('a query object: fields, rows one by one, past the last row, and the events it ignores', () => {
  const q = conn.query('SELECT k AS a, i AS a, v FROM kinds ORDER BY k');
  const seen = [];
  q.on('FIELDS', (fields) => seen.push(fields));
  q.on('fields', 'not a function');
  q.on('error', (e) => seen.push(e));
  q.on('Result', (row) => seen.push(row));
  q.nextRecord('nextresult', () => seen.push('never'));
  q.on(42, () => seen.push('never'));
  assert.deepEqual(seen, [
    [{ ColName: 'a', Type: 5 }, { ColName: 'a', Type: 5 }, { ColName: 'v', Type: 2 }],
    null,
    { a: -7, v: 'h\u00e9llo \u2713 \ud834\udd1e' }, // the later of two columns of one name wins
  ]);

  const failed = conn.query('SELECT missing FROM kinds');
  const out = [];
  failed.on('error', (e) => out.push(e));
  failed.on('result', (e) => out.push(e));
  failed.on('fields', (f) => out.push(f));
  assert.match(out[0], /no such column/);
  assert.deepEqual(out.slice(1), [out[0], []]);

  // A statement that is no SELECT gives a query object without rows.
  const none = conn.query('UPDATE kinds SET k = k');
  none.on('result', (r) => out.push(r));
  assert.equal(out.at(-1), null);
});

test('a block of rows that the server refuses ends the rows with its reason, in query and in a query object', () => {
  // Column a takes the type of its first value, which row 20001 does not fit.
  run('CREATE TABLE misfit (k INT, a)');
  run('INSERT INTO misfit SELECT x, x FROM big WHERE x <= 20000');
  run("INSERT INTO misfit VALUES (20001, 'not a number')");
  const sql = 'SELECT k, a FROM misfit ORDER BY k';
  const fields = [{ ColName: 'k', Type: 5 }, { ColName: 'a', Type: 6 }];
  const [err, rows, gotFields] = run(sql);
  assert.match(err.Error, /^READ RECORD ERROR: \[ES910\]row 20001, column a: /);
  assert.deepEqual([rows.length, rows[19999], gotFields], [20000, { k: 20000, a: 20000 }, fields]);

  for (const event of ['result', 'nextrecord']) {
    // Past the refusal a query object reads as past the last row of a whole result.
    const whole = objectRows(conn.query('SELECT k, a FROM misfit WHERE k = 1'), event, 3);
    const q = conn.query(sql);
    const seen = [];
    q.on('error', (e) => seen.push(e));
    const before = objectRows(q, event, 20000);
    assert.deepEqual([before.rows[19999], before.errors.every((e) => e === null)], [{ k: 20000, a: 20000 }, true]);
    assert.deepEqual(objectRows(q, event, 2), { rows: whole.rows.slice(1), errors: whole.errors.slice(1) }, event);
    q.on('error', (e) => seen.push(e));
    q.on('fields', (fs) => seen.push(fs));
    assert.deepEqual(seen, [null, err.Error.slice('READ RECORD ERROR: '.length), fields], event);
  }
  // The link is in step for the next statement.
  assert.deepEqual(run('SELECT count(*) AS n FROM misfit')[1], [{ n: 20001 }]);
});

test('a query object of a connection that has gone reports the closed link', () => {
  const other = connect();
  const q = other.query('SELECT x FROM big ORDER BY x');
  let first;
  q.on('result', (row) => { first = row; });
  assert.deepEqual(first, { x: 1 });
  other.end();
  const seen = [];
  q.on('result', (r) => seen.push(r));
  q.nextRecord('nextrecord', (r) => seen.push(r));
  q.on('error', (e) => seen.push(e));
  q.on('fields', (f) => seen.push(f));
  const closed = '[EJ1024] database connection is closed';
  assert.deepEqual(seen, [closed, closed, closed, []]);

  // Ending the connection from inside the callback is no harm either.
  const third = connect();
  const q3 = third.query('SELECT x FROM big');
  q3.on('result', () => third.end());
  q3.on('result', (r) => seen.push(r));
  assert.equal(seen.at(-1), closed);
});

test('a query object keeps its connection for as long as it reads', () => {
  setFlagsFromString('--expose-gc');
  const gc = runInNewContext('gc');
  // The connection object is unreachable once this returns.
  const q = (() => connect().query('SELECT x FROM big ORDER BY x'))();
  gc();
  gc();
  let last;
  for (let i = 0; i < 25000; i++) q.nextRecord('nextrecord', (row) => { last = row.x; });
  assert.equal(last, 25000);
});

test('a reply of two result sets gives a list of row lists and a list of field lists', async () => {
  const peer = await startPeer('two-results');
  try {
    const c = rizezova.createConnection({ host: peer.host, port: peer.port });
    let got;
    c.query('SELECT a FROM t', (...args) => { got = args; });
    assert.deepEqual(got, [null, [[{ a: 1 }, { a: 2 }], [{ b: 'x', c: 3 }]],
      [[{ ColName: 'a', Type: 5 }], [{ ColName: 'b', Type: 2 }, { ColName: 'c', Type: 5 }]]]);
    // A query object reads the first result set only.
    const { rows } = objectRows(c.query('SELECT a FROM t'), 'result', 2);
    assert.deepEqual(rows, [{ a: 1 }, { a: 2 }]);
    c.end();
  } finally {
    await peer.stop();
  }
});

test('a server error among the rows fails the call, which keeps the rows before it', () => {
  run('CREATE TABLE u (x)');
  for (let x = 1; x <= 6; x++) run('INSERT INTO u VALUES (?)', [x]);
  // abs() of the least 64-bit integer fails: at row 4 here, at row 25001 of big.
  const cases = [
    ['SELECT abs(x - 9223372036854775807 - 5) AS v FROM u', 3],
    ['SELECT x, abs(x - 9223372036854775807 - 25002) AS v FROM big WHERE x <= 30000', 25000],
  ];
  for (const [sql, before] of cases) {
    const [err, rows] = run(sql);
    assert.match(err.Error, /^READ RECORD ERROR: .*integer overflow/, sql);
    assert.equal(rows.length, before, sql);
    // on('result') reads its rows as nextRecord does.
    const q = conn.query(sql);
    const read = objectRows(q, 'nextrecord', before + 1);
    assert.equal(read.rows.length, before + 1);
    // Past the rows before the error the object reads as past the last row.
    assert.ok(Object.values(read.rows[before]).every((v) => v === 0 || v === ''));
    let text;
    q.on('error', (e) => { text = e; });
    assert.equal(text, err.Error.slice('READ RECORD ERROR: '.length));
  }
  // The rows of a SELECT ahead of another statement fail before it runs, in
  // or out of a transaction.
  conn.beginTransaction();
  const [err] = run('SELECT abs(x - 9223372036854775807 - 5) AS v FROM u; INSERT INTO u VALUES (7)');
  assert.match(err.Error, /integer overflow/);
  conn.commit();
  assert.deepEqual(run('SELECT count(*) AS n FROM u')[1], [{ n: 6 }]);
});

test('a failure that closes the link reports the closed link, not the text an earlier call left', async () => {
  const peer = await startPeer('failures');
  try {
    const c = rizezova.createConnection({ host: peer.host, port: peer.port });
    c.connect();
    let got;
    c.query('UPDATE refused SET a = 1', () => {});
    // An error whose text is too long to hold.
    c.query('DELETE FROM huge', (err) => { got = err; });
    assert.deepEqual(got, { Error: '[EJ1024] database connection is closed' });
    c.destry();
  } finally {
    await peer.stop();
  }
});
