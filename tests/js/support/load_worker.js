// One process of the load test: `connections` connections to the server,
// each running `statements` mixed statements in turn with the others, every
// answer checked as it comes. Reports to its parent the rows each connection
// left in the table and its resident memory along the way. With `dropAt`, the connections stop after that many
// statements in the middle of things (the first in a transaction it never
// ends, the others inside a server cursor), and the process waits to be
// killed.
'use strict';
const assert = require('node:assert/strict');
const { rizezova } = require('./driver');

const { connString, worker, connections, statements, dropAt, bigRows } = JSON.parse(process.argv[2]);

// The outcome of one call that reports through a callback.
function call(fn) {
  let got;
  fn((...args) => { got = args; });
  assert.ok(got, 'the callback was called');
  return got;
}
function ok(conn, sql, values) {
  const [err, rows] = call((cb) => conn.query(sql, values, cb));
  assert.equal(err, null, sql);
  return rows;
}

// Each connection keeps the rows it has in the table, and what it needs to
// know of them.
class Client {
  constructor(c) {
    this.c = c;
    this.conn = rizezova.createConnection(connString);
    this.rows = 0;
    this.lastInsert = -1;
  }

  insert(j, v) {
    const [status] = ok(this.conn, 'INSERT INTO load (w, c, j, v) VALUES (?, ?, ?, ?)', [worker, this.c, j, v]);
    assert.equal(typeof status['new RowId'], 'string');
  }

  step(j) {
    const { conn, c } = this;
    switch (j % 10) {
      case 0:
        this.insert(j, `v${j}`);
        this.lastInsert = j;
        this.rows++;
        break;
      case 1:
        assert.deepEqual(ok(conn, 'SELECT count(*) AS n FROM load WHERE w = ? AND c = ?', [worker, c]), [{ n: this.rows }]);
        break;
      case 2:
        assert.deepEqual(ok(conn, 'UPDATE load SET v = ? WHERE w = ? AND c = ? AND j = ?', ['u', worker, c, this.lastInsert]),
          [{ 'UPDATE EFFECTNUM': 1 }]);
        break;
      case 3: {
        // A query object, read one row at a time.
        const q = conn.query('SELECT j, v FROM load WHERE w = ? AND c = ? AND j = ?', [worker, c, this.lastInsert]);
        const rows = [];
        q.nextRecord('nextrecord', (row) => rows.push(row));
        assert.deepEqual(rows, [{ j: this.lastInsert, v: 'u' }]);
        break;
      }
      case 4: {
        const values = [[worker, c, j, 'm1'], [worker, c, j, 'm2'], [worker, c, j, 'm3']];
        const [err, statuses] = call((cb) => conn.querymany('INSERT INTO load (w, c, j, v) VALUES (?, ?, ?, ?)', values, cb));
        assert.equal(err, null);
        assert.equal(statuses.length, 3);
        this.rows += 3;
        break;
      }
      case 5:
        assert.deepEqual(call((cb) => conn.beginTransaction(cb)), [null]);
        this.insert(j, 't1');
        this.insert(j, 't2');
        assert.deepEqual(call((cb) => conn.commit(cb)), [null]);
        this.rows += 2;
        this.autoCommit();
        return;
      case 6:
        assert.deepEqual(call((cb) => conn.beginTransaction(cb)), [null]);
        this.insert(j, 'gone');
        assert.deepEqual(call((cb) => conn.rollback(cb)), [null]);
        this.autoCommit();
        return;
      case 7:
        assert.deepEqual(ok(conn, 'DELETE FROM load WHERE w = ? AND c = ? AND j = ?', [worker, c, this.lastInsert]),
          [{ 'DELETE EFFECTNUM': 1 }]);
        this.rows--;
        break;
      case 8:
        assert.equal(ok(conn, 'SELECT id, label, price FROM shared WHERE id <= ?', [50]).length, 50);
        break;
      default:
        // Now and then a read over several blocks of the server cursor.
        if ((j === 9 || j === 209) && c % 4 === 0) {
          assert.deepEqual(ok(conn, 'SELECT count(*) AS n, sum(x) AS s FROM (SELECT x FROM big)', []),
            [{ n: bigRows, s: (bigRows * (bigRows + 1)) / 2 }]);
          assert.equal(ok(conn, 'SELECT x FROM big', []).length, bigRows);
        } else {
          assert.deepEqual(ok(conn, 'SELECT ? AS x', [j]), [{ x: j }]);
        }
    }
  }

  // Transactions over, each statement commits itself again.
  autoCommit() {
    assert.deepEqual(ok(this.conn, 'SET AUTO_COMMIT ON;', []), []);
  }
}

// The script yields to its event loop between rounds, as a program would:
// objects that went out of use are released there.
const tick = () => new Promise((resolve) => setImmediate(resolve));
async function resident() {
  global.gc();
  await tick();
  global.gc();
  return process.memoryUsage().rss;
}

async function main() {
const clients = Array.from({ length: connections }, (_, c) => new Client(c));
// Resident memory every 50 statements from the first quarter of the run on
// (by then every kind of work has been done and its memory is in place).
const samples = [];
for (let j = 0; j < statements; j++) {
  if (dropAt !== undefined && j === dropAt) {
    // Work that no commit will follow, and cursors half read.
    const [first, ...others] = clients;
    call((cb) => first.conn.beginTransaction(cb));
    first.insert(j, 'never');
    const readers = others.map((client) => client.conn.query('SELECT x FROM big'));
    for (const q of readers) q.nextRecord('nextrecord', (row) => assert.deepEqual(row, { x: 1 }));
    process.send({ dropping: true });
    Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, 60000);
  }
  for (const client of clients) client.step(j);
  if (j >= statements / 4 && j % 50 === 0) samples.push(await resident());
  await tick();
}
samples.push(await resident());
for (const client of clients) client.conn.end();
process.send({ rows: clients.map((client) => client.rows), samples });
}

main();
