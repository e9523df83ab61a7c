// beginTransaction, commit and rollback: their effects seen from a second
// connection, their reports, and the states in which they refuse to run.
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { rizezova, startPeer, closedPort } = require('./support/driver');
const { startStandin } = require('../../tools/standin/launch');

const NOT_OPEN = 'The Connection is Not Open!';
const FAILED = 'The vamo database conntion exception.';

let server;
let other;
before(async () => {
  server = await startStandin();
  other = rizezova.createConnection({ host: server.host, port: server.port });
  other.query('CREATE TABLE tx (n INT)', () => {});
});
after(async () => {
  other.destry();
  await server.stop();
});

const open = () => {
  const conn = rizezova.createConnection({ host: server.host, port: server.port });
  conn.connect();
  return conn;
};
// What each callback of one call got.
const reports = (call) => {
  const got = [];
  assert.equal(call((...args) => got.push(args)), undefined);
  return got;
};
const seenByOther = () => {
  let rows;
  other.query('SELECT n FROM tx ORDER BY n', (err, r) => { assert.equal(err, null); rows = r.map((x) => x.n); });
  return rows;
};
const insert = (conn, n) => conn.query('INSERT INTO tx VALUES (?)', [n], (err) => assert.equal(err, null));

test('work after beginTransaction stays unseen until committed and vanishes on rollback', () => {
  const conn = open();
  assert.deepEqual(reports((cb) => conn.beginTransaction(cb)), [[null]]);
  insert(conn, 1);
  insert(conn, 2);
  assert.deepEqual(seenByOther(), []);
  assert.deepEqual(reports((cb) => conn.rollback(cb)), [[null]]);
  assert.deepEqual(seenByOther(), []);

  // Auto-commit stays off: work after a rollback waits too, and a second
  // beginTransaction commits it.
  insert(conn, 3);
  assert.deepEqual(seenByOther(), []);
  assert.deepEqual(reports((cb) => conn.beginTransaction(cb)), [[null]]);
  assert.deepEqual(seenByOther(), [3]);

  insert(conn, 4);
  conn.commit();
  assert.deepEqual(seenByOther(), [3, 4]);
  insert(conn, 5);
  conn.rollback('not a callback');
  assert.deepEqual(reports((cb) => conn.commit(cb)), [[null]]);
  assert.deepEqual(seenByOther(), [3, 4]);
  conn.end();
});

test('a statement that fails reaches the callback as one fixed text', async () => {
  const peer = await startPeer('drop');
  try {
    for (const method of ['beginTransaction', 'commit', 'rollback']) {
      const conn = rizezova.createConnection({ host: peer.host, port: peer.port });
      conn.connect();
      assert.deepEqual(reports((cb) => conn[method](cb)), [[FAILED]], method);
      // Without a callback the failure is not reported.
      conn[method]();
      conn.destry();
    }
  } finally {
    await peer.stop();
  }
});

test('each method refuses a connection that is not open, without connecting', async () => {
  const unreachable = { host: '127.0.0.1', port: await closedPort() };
  const states = {
    'never opened': () => rizezova.createConnection(unreachable),
    ended: () => { const c = open(); c.end(); return c; },
    destroyed: () => { const c = open(); c.destry(); return c; },
    disconnected: () => { const c = open(); c.disconnect(); return c; },
  };
  for (const [state, make] of Object.entries(states)) {
    for (const method of ['beginTransaction', 'commit', 'rollback']) {
      const conn = make();
      const calls = [];
      assert.throws(() => conn[method]((...a) => calls.push(a)), { name: 'TypeError', message: NOT_OPEN },
        `${method} ${state}`);
      assert.deepEqual(calls, []);
    }
  }
});
