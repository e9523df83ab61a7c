// Loading the module, createConnection, the connection's state rules, and
// how long what it opens lives. The peer only has to accept logins; the
// stand-in answers where rows are read.
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const { rizezova, modulePath, startPeer, closedPort } = require('./support/driver');
const { startStandin } = require('../../tools/standin/launch');

let peer;
let server;
let unreachable;
before(async () => {
  peer = await startPeer('drop');
  server = await startStandin();
  unreachable = { host: '127.0.0.1', port: await closedPort() };
});
after(async () => {
  await peer.stop();
  await server.stop();
});

const open = () => rizezova.createConnection({ host: peer.host, port: peer.port });
const methods = (obj) => Object.getOwnPropertyNames(Object.getPrototypeOf(obj)).filter((n) => n !== 'constructor');
const NOT_OPEN = 'The Connection is Not Open!';

test('the module loads in a fresh process, exports only createConnection, and the process exits cleanly', () => {
  const script = `const m = require(${JSON.stringify(modulePath)}); m.createConnection('IP=x');` +
    'process.stdout.write(JSON.stringify(Reflect.ownKeys(m)))';
  const run = spawnSync(process.execPath, ['-e', script], { env: process.env });
  assert.equal(run.stderr.toString(), '');
  assert.equal(run.status, 0);
  assert.equal(run.stdout.toString(), '["createConnection"]');
});

test('createConnection refuses what is neither a string nor an options object with a host', () => {
  for (const [args, message] of [
    [[], 'The first argument undefined.'],
    [[undefined], 'The first argument undefined.'],
    [[null], 'The args Error '],
    [[5138], 'The args Error '],
    [[true], 'The args Error '],
    [[{ port: 5138 }], 'The args Error:no Host '],
  ]) {
    assert.throws(() => rizezova.createConnection(...args), { name: 'TypeError', message }, JSON.stringify(args));
  }
  for (const arg of ['anything at all', { host: null }]) {
    assert.equal(rizezova.createConnection(arg).constructor.name, 'VMConnection');
  }
});

test('an option the connection string cannot carry as it is is refused, naming it; values at their limits log in', async () => {
  const user = '\u00e9'.repeat(31) + 'u'; // 63 bytes
  const password = 'p,=' + 'p'.repeat(60);
  const checking = await startStandin({ args: ['--user', user, '--password', password] });
  try {
    const cases = [
      [{ user: `x;Port=${server.port}` }, "The args Error:user holds ';' "],
      [{ user: '\u00e9'.repeat(32) }, 'The args Error:user is longer than 63 bytes '],
      [{ password: ' pw' }, 'The args Error:password begins or ends with a blank '],
      [{ password: 'xIPS=127.0.0.1' }, "The args Error:password holds 'IPS=' "],
      [{ char_set: 'ips=1' }, "The args Error:char_set holds 'ips=' "],
      [{ host: '1'.repeat(32) }, 'The args Error:host is longer than 31 bytes '],
    ];
    for (const [options, message] of cases) {
      assert.throws(() => rizezova.createConnection({ host: '127.0.0.1', port: 1, ...options }),
        { name: 'TypeError', message }, JSON.stringify(options));
    }
    // 127.0.0.1 with its first part in octal, 31 bytes.
    const host = '0'.repeat(22) + '177.0.0.1';
    const fits = rizezova.createConnection({ host, port: String(checking.port), user, password,
      database: 'd'.repeat(63), char_set: 'c'.repeat(63) });
    assert.equal(fits.connect(), '\x01');
    fits.destry();
    const wrong = rizezova.createConnection({ host, port: checking.port, user, password: password.slice(1) });
    assert.throws(() => wrong.connect(), { message: /^Connect to Database failed!/ });
    // A connection string is the caller's: its items are read as they stand.
    const text = `IP=${checking.host};Port=${checking.port};USER= ${user} ;PWD=${password};DB=${'d'.repeat(100)}`;
    const given = rizezova.createConnection(text);
    assert.equal(given.connect(), '\x01');
    given.destry();
  } finally {
    await checking.stop();
  }
});

test('script objects: their classes, methods, and what their constructors accept', () => {
  const conn = open();
  assert.deepEqual(methods(conn),
    ['end', 'connect', 'query', 'beginTransaction', 'rollback', 'commit', 'disconnect', 'destry', 'querymany']);
  const q = conn.query('SELECT 1');
  assert.equal(q.constructor.name, 'VMQuery');
  assert.deepEqual(methods(q), ['on', 'nextRecord']);
  // A method on an object of the other class is refused by the host.
  assert.throws(() => conn.end.call(q), TypeError);
  assert.throws(() => q.on.call(conn, 'error', () => {}), TypeError);
  // A query object that a script builds never reads a number as a result.
  const forged = new q.constructor('SELECT 1', [1, 1e-310, null]);
  let got;
  forged.on('result', (row) => { got = row; });
  forged.on('fields', (fields) => assert.deepEqual(fields, []));
  assert.equal(got, null);
  conn.destry();
});

test('connect, end, disconnect and destry follow the state rules', () => {
  const conn = open();
  assert.throws(() => conn.end(), { message: NOT_OPEN });
  assert.equal(conn.connect(), '\x01');
  assert.throws(() => conn.connect(), { message: 'The Connection is already Opened !' });
  const calls = [];
  assert.equal(conn.connect((err) => calls.push(err)), undefined);
  conn.end();
  assert.throws(() => conn.connect(), { message: 'The Connection has called .end()!' });
  assert.throws(() => conn.query('SELECT 1'), { message: NOT_OPEN });
  conn.connect((err) => calls.push(err));
  assert.deepEqual(calls, ['The Connection is already Opened !', 'The Connection has called .end()!']);

  const again = open();
  again.disconnect();
  assert.throws(() => again.query('SELECT 1'), { message: NOT_OPEN });
  assert.equal(again.connect(), '\x01');
  again.destry();
  again.destry();
  assert.throws(() => again.query('SELECT 1'), { message: NOT_OPEN });
  assert.throws(() => again.connect(), { message: 'The Connection has called .end()!' });
});

test('a server that cannot be reached leaves the connection unopened, and the next call tries again', () => {
  const conn = rizezova.createConnection(unreachable);
  const calls = [];
  assert.equal(conn.connect((err) => calls.push(err)), undefined);
  assert.deepEqual(calls, ['Connect to Database failed! connection params error or Server can\'t reach 1']);
  assert.throws(() => conn.connect(),
    { message: 'Connect to Database failed! connection params error or Server can\'t reach 2' });
  for (let i = 0; i < 2; i++) {
    assert.throws(() => conn.query('SELECT 1', () => calls.push('called')),
      { message: 'Connect to Database failed! connection params error or Server can\'t reach' });
  }
  assert.equal(calls.length, 1);
  // Without a connection string there is nothing to open.
  assert.throws(() => new conn.constructor(42).query('SELECT 1'), { message: /^Connect to Database failed!/ });
});

test('query checks its arguments in order', () => {
  const never = rizezova.createConnection(unreachable);
  assert.throws(() => never.query(1, 2, 3, 4), { message: 'Wrong arguments number' });
  assert.throws(() => never.query(), { message: 'The first argument undefined.' });
  const conn = open();
  for (const [args, message] of [
    [['SELECT 1', [], 5], 'The third argument is not callback function'],
    [[5], 'Error: The args Query sql is needed '],
    [[null], 'Error: The args Query sql is needed '],
  ]) {
    assert.throws(() => conn.query(...args), { name: 'TypeError', message }, JSON.stringify(args));
  }
  const calls = [];
  assert.equal(conn.query((...args) => calls.push(args)), undefined);
  assert.deepEqual(calls, [[null]]);
  conn.destry();
});

test('a link that breaks before or during the reply reaches the callback as a closed connection', async () => {
  const partial = await startPeer('partial');
  try {
    for (const server of [peer, partial]) {
      const conn = rizezova.createConnection({ host: server.host, port: server.port });
      const closed = { Error: '[EJ1024] database connection is closed' };
      for (const [sql, rows] of [
        ['UPDATE t SET a = 1', [{ 'UPDATE EFFECTNUM': 0 }]],
        ['INSERT INTO t VALUES (1)', [{ 'new RowId': '' }]],
        ['DELETE FROM t', [{ 'DELETE EFFECTNUM': 0 }]],
      ]) {
        const calls = [];
        conn.query(sql, (...args) => calls.push(args));
        assert.deepEqual(calls, [[closed, rows, []]], sql);
      }
      // A SELECT fails too; the query object keeps the failure.
      const q = conn.query('SELECT a FROM t');
      const seen = [];
      q.on('error', (e) => seen.push(typeof e));
      q.on('result', (e) => seen.push(typeof e));
      q.on('fields', (f) => seen.push(f.length));
      assert.deepEqual(seen, ['string', 'string', 0]);
      conn.end();
    }
  } finally {
    await partial.stop();
  }
});

test('what a connect callback does stands when connect returns', () => {
  const read = (q) => {
    let row;
    q.on('result', (r) => { row = r; });
    return row;
  };
  const cases = [
    // A query opens the connection, which is kept with its query object.
    ['query', (c, kept) => { kept.q = c.query('SELECT 1 AS a'); }, (c, ret, kept) => {
      assert.equal(ret, '\x01');
      assert.deepEqual(read(kept.q), { a: 1 });
      assert.deepEqual(read(c.query('SELECT 2 AS b')), { b: 2 });
    }],
    // A query opens a connection there, which end then closes.
    ['end', (c) => { c.query('SELECT 1'); c.end(); }, (c, ret) => {
      assert.equal(ret, undefined);
      assert.throws(() => c.query('SELECT 1'), { message: NOT_OPEN });
      assert.throws(() => c.connect(), { message: 'The Connection has called .end()!' });
    }],
    ['destry', (c) => { c.query('SELECT 1'); c.destry(); }, (c) => {
      assert.throws(() => c.query('SELECT 1'), { message: NOT_OPEN });
      assert.throws(() => c.connect(), { message: 'The Connection has called .end()!' });
    }],
    ['disconnect', (c) => c.disconnect(), (c) => {
      assert.throws(() => c.query('SELECT 1'), { message: NOT_OPEN });
      assert.equal(c.connect(), '\x01');
    }],
    ['nothing', () => {}, (c, ret) => {
      assert.equal(ret, '\x01');
      assert.deepEqual(read(c.query('SELECT 3 AS c')), { c: 3 });
    }],
  ];
  for (const [name, inside, check] of cases) {
    const c = rizezova.createConnection({ host: server.host, port: server.port });
    const kept = {};
    const errors = [];
    const ret = c.connect((err) => { errors.push(err); inside(c, kept); });
    assert.deepEqual(errors, [null], name);
    check(c, ret, kept);
    c.destry();
  }
  // A close there ends the connection connect opened, from a fresh or a
  // disconnected connection, and leaves it as the same close outside would.
  const reopen = { end: 'The Connection has called .end()!', destry: 'The Connection has called .end()!' };
  for (const close of ['end', 'disconnect', 'destry']) {
    for (const before of ['fresh', 'disconnected']) {
      const c = rizezova.createConnection({ host: server.host, port: server.port });
      if (before === 'disconnected') {
        c.connect();
        c.disconnect();
      }
      const name = `${close} from ${before}`;
      const errors = [];
      const ret = c.connect((err) => { errors.push(err); c[close](); });
      assert.deepEqual([errors, ret], [[null], undefined], name);
      assert.throws(() => c.query('SELECT 1'), { message: NOT_OPEN }, name);
      if (reopen[close]) {
        assert.throws(() => c.connect(), { message: reopen[close] }, name);
      } else {
        assert.equal(c.connect(), '\x01', name);
        assert.deepEqual(read(c.query('SELECT 4 AS d')), { d: 4 }, name);
      }
      c.destry();
    }
  }
});

test('collecting query objects does not wait on the server; their cursors close at the next call', () => {
  const c = rizezova.createConnection({ host: server.host, port: server.port });
  c.query('CREATE TABLE big (x INT)', () => {});
  // More rows than one block of a server cursor: a query object's cursor stays open.
  c.query('INSERT INTO big WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < 20001) ' +
    'SELECT x FROM n', () => {});
  c.destry();
  const script = `
    const c = require(${JSON.stringify(modulePath)}).createConnection(${JSON.stringify({ host: server.host, port: server.port })});
    const out = { collected: 0 };
    const registry = new FinalizationRegistry(() => { out.collected++; });
    (() => { for (let i = 0; i < 3; i++) registry.register(c.query('SELECT x FROM big'), i); })();
    process.kill(${server.process.pid}, 'SIGSTOP');
    const start = Date.now();
    gc();
    out.ms = Date.now() - start;
    process.kill(${server.process.pid}, 'SIGCONT');
    setTimeout(() => {
      c.query('SELECT count(*) AS n FROM big', (err, rows) => { out.n = err || rows[0].n; });
      c.end();
      process.stdout.write(JSON.stringify(out));
    }, 50);
  `;
  let child;
  try {
    child = spawnSync(process.execPath, ['--expose-gc', '-e', script], { timeout: 20000 });
  } finally {
    server.process.kill('SIGCONT');
  }
  assert.equal(child.status, 0, child.stderr.toString());
  const out = JSON.parse(child.stdout.toString());
  assert.deepEqual({ ...out, ms: out.ms < 5000 }, { collected: 3, ms: true, n: 20001 });
});
