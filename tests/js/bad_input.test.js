// Every export and method called with wrong arguments of every kind: each
// call throws its TypeError, calls back, or does what its rules say for that
// kind, the process survives all of it, and the connections still work.
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { rizezova, closedPort } = require('./support/driver');
const { startStandin } = require('../../tools/standin/launch');

const UNDEFINED = 'The first argument undefined.';
const NOT_OPEN = 'The Connection is Not Open!';
const SQL_NEEDED = 'Error: The args Query sql is needed ';
const MISMATCH = 'executemany Parameter mismatch';
const NUL_IN_SQL = 'The sql text contains a NUL character.';

class Boom extends Error {}
// An object every look at which throws: property reads, key lists, tests.
const trap = () => { throw new Boom(); };
const throwing = new Proxy({}, { get: trap, has: trap, ownKeys: trap, getOwnPropertyDescriptor: trap });
const { proxy: revoked, revoke } = Proxy.revocable({}, {});
revoke();
const HUGE = 'x'.repeat(8 << 20);

// The wrong values, each with the family the rules below go by.
const MISSING = Symbol('missing');
const KINDS = [
  ['missing', MISSING, 'absent'],
  ['undefined', undefined, 'absent'],
  ['null', null, 'primitive'],
  ['zero', 0, 'primitive'],
  ['negative', -1, 'primitive'],
  ['2^53', 2 ** 53, 'primitive'],
  ['NaN', NaN, 'primitive'],
  ['Infinity', -Infinity, 'primitive'],
  ['BigInt', 10n, 'primitive'],
  ['symbol', Symbol('s'), 'primitive'],
  ['empty string', '', 'string'],
  ['huge string', HUGE, 'string'],
  ['string with NUL', 'SELECT\u00001', 'string'],
  ['array', [1, 'two', [3]], 'array'],
  ['object', { toString: () => 'SELECT 1' }, 'object'],
  ['throwing getters', throwing, 'getters'],
  ['function', function f() {}, 'function'],
  ['revoked proxy', revoked, 'revoked'],
];

// How one call ended: 'ok', the message of a TypeError, 'Boom', or the
// name of any other error.
function outcome(call) {
  try {
    call();
    return 'ok';
  } catch (e) {
    if (e instanceof Boom) return 'Boom';
    if (e instanceof TypeError) return e.message;
    return e.constructor.name;
  }
}
const args = (value) => (value === MISSING ? [] : [value]);
// The outcome a rule gives a kind, by its name or else its family (an array
// goes as an object unless the rule names it): a text, or 'TypeError' for any
// of the host's own (a revoked proxy read, a symbol made a string).
function check(site, rule, call) {
  for (const [name, value, family] of KINDS) {
    const want = rule[name] ?? rule[family] ?? (family === 'array' ? rule.object : undefined) ?? rule.other;
    const got = outcome(() => call(value));
    if (want === 'TypeError') {
      assert.ok(got !== 'ok' && got !== 'Boom', `${site} with ${name}: ${got}`);
    } else {
      assert.equal(got, want, `${site} with ${name}`);
    }
  }
}

let server;
let conn;
let unreachable;
before(async () => {
  server = await startStandin();
  unreachable = `IP=127.0.0.1;Port=${await closedPort()}`;
  conn = rizezova.createConnection({ host: server.host, port: server.port });
  conn.query('CREATE TABLE t (v)', () => {});
});
after(async () => {
  conn.destry();
  await server.stop();
});

// The rows of a SELECT on conn, failing on an error.
function select(sql) {
  let got;
  conn.query(sql, (err, rows) => { got = [err, rows]; });
  assert.equal(got[0], null);
  return got[1];
}
const alive = () => assert.deepEqual(select('SELECT 1 AS one'), [{ one: 1 }]);

test('createConnection and the connection constructor, with every kind of argument', () => {
  check('createConnection', {
    absent: UNDEFINED, string: 'ok', primitive: 'The args Error ', object: 'The args Error:no Host ',
    function: 'The args Error:no Host ', getters: 'Boom', revoked: 'TypeError',
  }, (v) => rizezova.createConnection(...args(v)));
  const Conn = conn.constructor;
  for (const make of [(v) => new Conn(...args(v)), (v) => Conn(...args(v))]) {
    check('the constructor', { other: 'ok', getters: 'Boom', revoked: 'TypeError' }, make);
  }
  // Every option value of every kind makes a connection string, but for the
  // strings it cannot carry; opening it fails or succeeds, and says which once.
  for (const key of ['host', 'port', 'user', 'password', 'database', 'char_set']) {
    const rule = {
      'huge string': `The args Error:${key} is longer than ${key === 'host' ? 31 : 63} bytes `,
      'string with NUL': `The args Error:${key} holds a zero byte `,
      other: 'ok',
    };
    if (key === 'host') rule.absent = 'The args Error:no Host ';
    check(`option ${key}`, rule, (v) => {
      const options = { host: '127.0.0.1', port: 1, [key]: v };
      if (v === MISSING) delete options[key];
      const calls = [];
      rizezova.createConnection(options).connect((err) => calls.push(err));
      assert.equal(calls.length, 1);
    });
  }
  // A connection string of any text is refused when opened, never overrun.
  for (const text of ['', HUGE, `${unreachable};${HUGE}=${HUGE}`, `IP=${HUGE};Port=1`, 'IP=\u0000;Port=\u0000',
    `${unreachable};IPS=${'127.0.0.1:1,'.repeat(5000)}`, '=;=;;==;IP;Port']) {
    const calls = [];
    rizezova.createConnection(text).connect((err) => calls.push(err));
    assert.deepEqual(calls, ["Connect to Database failed! connection params error or Server can't reach 1"]);
  }
});

test('connect, end, disconnect, destry and the transaction methods take any argument', () => {
  check('connect on an unreachable server', {
    absent: "Connect to Database failed! connection params error or Server can't reach 2", other: 'ok',
  }, (v) => rizezova.createConnection(unreachable).connect(...args(v)));
  for (const method of ['beginTransaction', 'commit', 'rollback']) {
    check(method, { other: 'ok' }, (v) => conn[method](...args(v)));
    check(`${method} unopened`, { other: NOT_OPEN }, (v) => rizezova.createConnection(unreachable)[method](...args(v)));
  }
  conn.commit();
  for (const method of ['end', 'disconnect', 'destry']) {
    check(method, { other: 'ok' }, (v) => {
      const c = rizezova.createConnection({ host: server.host, port: server.port });
      c.connect();
      c[method](...args(v));
    });
  }
  alive();
});

test('query with a statement, values and callback of every kind', () => {
  check('the statement', {
    absent: UNDEFINED, string: 'ok', primitive: SQL_NEEDED, object: 'ok', function: 'ok', getters: 'Boom',
    revoked: 'TypeError', 'string with NUL': NUL_IN_SQL,
  }, (v) => conn.query(...args(v)));
  // The statement's "sql" is taken as its string form.
  check('the statement object', {
    other: 'ok', symbol: 'TypeError', getters: 'Boom', revoked: 'TypeError', 'string with NUL': NUL_IN_SQL,
  }, (v) => conn.query(v === MISSING ? {} : { sql: v }, () => {}));
  check('the callback', { missing: 'ok', other: 'The third argument is not callback function', function: 'ok' },
    (v) => conn.query('SELECT 1', [], ...args(v)));

  // Values: a container that is no object binds nulls, one that throws
  // stops the call before anything is sent.
  const values = [];
  check('the values', { other: 'ok', getters: 'Boom', revoked: 'TypeError' },
    (v) => conn.query('SELECT ? AS v', v === MISSING ? undefined : v, (err, rows) => values.push(rows[0].v)));
  assert.deepEqual(values, [null, null, null, null, null, null, null, null, null, null, null, null, null, 1, null,
    null]);

  // Values of kinds that bind nothing leave their placeholder unbound.
  const bound = [];
  check('a value', { other: 'ok' },
    (v) => conn.query('SELECT ? AS v', v === MISSING ? [] : [v], (err, rows) => bound.push(rows[0].v)));
  assert.deepEqual(bound.map((v) => (typeof v === 'string' ? v.length : v)),
    [null, null, null, 0, -1, 2 ** 53, null, -Infinity, 10, null, null, 64000, 6, null, null, null, null, null]);
  alive();
});

test('querymany with a statement and rows of every kind', () => {
  check('the statement', {
    absent: MISMATCH, string: MISMATCH, primitive: MISMATCH, object: MISMATCH, function: 'ok', getters: 'Boom',
    revoked: 'TypeError',
  }, (v) => conn.querymany(...args(v)));
  check('the rows', { other: MISMATCH, array: 'ok' },
    (v) => conn.querymany('INSERT INTO t VALUES (?)', ...args(v), () => {}));
  check('the rows of an object', { other: MISMATCH, array: 'ok' },
    (v) => conn.querymany({ sql: 'INSERT INTO t VALUES (?)', values: v === MISSING ? undefined : v }, () => {}));
  select('DELETE FROM t');
  check('a row', { other: 'ok', getters: 'Boom', revoked: 'TypeError' },
    (v) => conn.querymany('INSERT INTO t VALUES (?)', v === MISSING ? [] : [v], () => {}));
  // A row for every kind but none (no rows) and the two that threw; rows
  // that are no objects bind nulls, the array row gives its first element.
  assert.deepEqual(select('SELECT count(*) AS n, group_concat(v) AS v FROM t'), [{ n: KINDS.length - 3, v: '1' }]);
  alive();
});

test('a query object and its constructor, with every kind of argument', () => {
  const q = conn.query('SELECT 1 AS one');
  const calls = [];
  for (const method of ['on', 'nextRecord']) {
    check(`${method} event`, { other: 'ok' }, (v) => q[method](...args(v), (x) => calls.push(x)));
    check(`${method} callback`, { other: 'ok', function: 'ok' }, (v) => q[method]('error', ...args(v)));
  }
  assert.deepEqual(calls, []);
  const Query = q.constructor;
  // Only an init array's error entry is looked into; without new the
  // constructor takes its first argument alone.
  const reads = { other: 'ok', undefined: 'TypeError', getters: 'Boom', revoked: 'TypeError' };
  for (const [make, rule] of [[(v) => new Query(v, v), { other: 'ok' }],
    [(v) => new Query('SELECT 1', [v, v, v]), reads], [(v) => Query(v, [1, 2, v]), { other: 'ok' }]]) {
    check('the query constructor', rule, (v) => {
      const forged = make(v);
      forged.on('result', (row) => calls.push(row));
      forged.on('fields', (fields) => assert.deepEqual(fields, []));
    });
  }
  // No forged object has a result to read.
  assert.ok(calls.every((x) => x === null || typeof x === 'string'), JSON.stringify(calls));
});

test('every method refuses a receiver of another kind', () => {
  const q = conn.query('SELECT 1 AS one');
  const receivers = [undefined, null, 42, 'text', {}, [], throwing, revoked, new Proxy(conn, {}),
    Object.create(Object.getPrototypeOf(conn)), Object.create(conn)];
  for (const [self, other] of [[conn, q], [q, conn]]) {
    const proto = Object.getPrototypeOf(self);
    for (const name of Object.getOwnPropertyNames(proto).filter((n) => n !== 'constructor')) {
      for (const receiver of [...receivers, other]) {
        assert.equal(outcome(() => proto[name].call(receiver, () => {})), 'Illegal invocation', name);
      }
    }
  }
  alive();
});
