// LOB columns with LOB_RET (the server sends descriptors or inline values,
// and each descriptor's value is fetched): read whole by query and by a query
// object; and a value that cannot be had.
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { rizezova, startPeer, objectRows } = require('./support/driver');
const { startStandin } = require('../../tools/standin/launch');

const CLOSED = '[EJ1024] database connection is closed';

let peer;
before(async () => {
  peer = await startPeer('lobs');
});
after(async () => {
  await peer.stop();
});

const connString = (server, extra) => `IP=${server.host};Port=${server.port}${extra}`;
const arrayBuffer = (bytes) => new Uint8Array(Buffer.from(bytes)).buffer;

// The rows one reader hands out, and the error it gave: query's error
// object, or the messages each read of a query object threw.
function readRows(conn, sql, reader, count) {
  if (reader !== 'query') return objectRows(conn.query(sql), reader, count);
  let got;
  conn.query(sql, (err, rows) => { got = { rows, errors: err }; });
  return got;
}

// on('result') reads its rows as nextRecord does.
const READERS = ['query', 'nextrecord'];

test('LOB columns arrive whole in the rows of query, of on("result") and of nextRecord', () => {
  const text = 'hello w\u00f6rld';
  const blob = [0x61, 0x00, 0x62, 0xff, 0x00];
  // Row 1 holds descriptors, row 2 inline values (a binary one with zero
  // bytes), row 3 NULLs. query gives ArrayBuffers, a query object values.
  const byQuery = [
    { n: 1, c: arrayBuffer(text), b: arrayBuffer(blob) },
    { n: 2, c: arrayBuffer('Hello'), b: arrayBuffer('x\0y') },
    { n: 3, c: new ArrayBuffer(0), b: new ArrayBuffer(0) }];
  const byObject = [
    { n: 1, c: text, b: Buffer.from(blob) },
    { n: 2, c: 'Hello', b: Buffer.from('x\0y') },
    { n: 3, c: '', b: Buffer.alloc(0) }];
  for (const reader of READERS) {
    const conn = rizezova.createConnection(connString(peer, ';LOB_RET=1'));
    const got = readRows(conn, 'SELECT n, c, b FROM lobs', reader, 3);
    const query = reader === 'query';
    assert.deepEqual(got, { rows: query ? byQuery : byObject, errors: query ? null : [null, null, null] }, reader);
    conn.destry();
  }
});

test('a LOB value that cannot be had reports why, with the bytes that came before it', () => {
  // What the value holds, what is reported, and whether the link stays in step.
  const cases = [
    { what: 'refused', c: '', error: '[ES404]no LOB C000000000404', inStep: true },
    { what: 'cut', c: 'cd', error: CLOSED, inStep: false },
  ];
  for (const { what, c, error, inStep } of cases) {
    for (const reader of READERS) {
      const label = `${what}, ${reader}`;
      const conn = rizezova.createConnection(connString(peer, ';LOB_RET=1'));
      const got = readRows(conn, `SELECT n, c, b FROM ${what}`, reader, 1);
      if (reader === 'query') {
        assert.deepEqual(got, { rows: [{ n: 1, c: arrayBuffer(c), b: new ArrayBuffer(0) }], errors: { Error: error } },
          label);
      } else {
        // The row goes out first; the failure is thrown after it.
        assert.deepEqual(got, { rows: [{ n: 1, c, b: Buffer.alloc(0) }], errors: [error] }, label);
      }
      let next;
      conn.query('SELECT n, c, b FROM lobs', (err, rows) => { next = [err, rows.length]; });
      assert.deepEqual(next, inStep ? [null, 3] : [{ Error: CLOSED }, 0], label);
      conn.destry();
    }
  }
});

// A query object's server cursor asks for each block only when the rows in
// hand are used up: no LOB's fetch meets the reply of a FETCH sent ahead,
// also when query has read another result of the connection (reading it
// ahead) between two rows. Each fetch is an exchange of its own, so only the
// rows around the places where that could happen hold a value.
test('character LOBs by descriptor across blocks of a query object\'s server cursor, from the stand-in', async () => {
  const ROWS = 20005;
  const held = (i) => i < 3 || (i >= 10000 && i <= 10002) || i >= 19998;
  const standin = await startStandin();
  try {
    const conn = rizezova.createConnection(connString(standin, ';LOB_RET=1'));
    for (const sql of ['CREATE TABLE doc (id INT, body CLOB)',
      `INSERT INTO doc WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < ${ROWS}) ` +
        "SELECT x, CASE WHEN x < 3 OR x BETWEEN 10000 AND 10002 OR x >= 19998 THEN 'doc ' || x END FROM n"]) {
      conn.query(sql, (err) => assert.equal(err, null, sql));
    }
    const q = conn.query('SELECT id, body FROM doc ORDER BY id');
    for (let i = 1; i <= ROWS; i++) {
      let row;
      q.nextRecord('nextrecord', (r) => { row = r; });
      const body = held(i) ? `doc ${i}` : '';
      if (row.id !== i || row.body !== body) assert.deepEqual(row, { id: i, body });
      if (i === 10000) {
        let ids;
        conn.query('SELECT id FROM doc ORDER BY id', (err, rows) => { ids = [err, rows.length]; });
        assert.deepEqual(ids, [null, ROWS]);
      }
    }
    conn.destry();
  } finally {
    await standin.stop();
  }
});
