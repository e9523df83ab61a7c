// What a script does with the driver, against the stand-in server: connect,
// create a table, insert with placeholders by position and by name, insert
// many rows with one prepared statement, read rows through a callback and
// through a query object, update, delete, roll back and commit a
// transaction, and meet an error. Then the wire link itself: a plain and an
// encrypted login.
//
//   node examples/demo.js            (npm run demo builds first)
'use strict';
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { inspect } = require('node:util');
const { startStandin } = require('../tools/standin/launch');

const buildDir = path.resolve(__dirname, '..', process.env.RZ_BUILD_DIR || path.join('build', 'release'));
const { createConnection } = require(path.join(buildDir, 'rizezova.node'));

const line = (value) => inspect(value, { breakLength: Infinity });
const show = (label) => (err, rows, fields) => {
  console.log(`${label}:`);
  if (err) console.log('  error:', err.Error);
  for (const row of rows) console.log('  ', line(row));
  if (fields && fields.length) console.log('  fields:', fields.map((f) => `${f.ColName} (${f.Type})`).join(', '));
};

async function main() {
  const server = await startStandin();
  console.log(`stand-in server listening on ${server.host}:${server.port}\n`);
  try {
    const conn = createConnection({ host: server.host, port: server.port });
    conn.connect((err) => console.log('connect:', err || 'open'));

    conn.query('CREATE TABLE item (id INT, name VARCHAR(20), price DOUBLE, added DATE, sold DATETIME, ' +
      'fragile BOOLEAN, note CLOB)', show('create table'));
    conn.query('INSERT INTO item VALUES (?, ?, ?, ?, ?, ?, ?)',
      [1, 'pen', 1.25, '2024-02-29', new Date(2024, 2, 1, 9, 30), false, 'blue ink'], show('insert by position'));
    conn.query('INSERT INTO item (id, name, price, fragile) VALUES (:id, :name, :price, :fragile)',
      { id: 2, name: 'vase \u2013 gr\u00fcn', price: 39.9, fragile: true }, show('insert by name'));
    conn.query('INSERT INTO item (id, name) VALUES (?, ?)', [3, null], show('insert with a NULL'));

    // One statement for many rows: prepared once, run per row.
    conn.querymany('INSERT INTO item (id, name, price) VALUES (?, ?, ?)',
      [[10, 'ruler', 2.5], [11, 'eraser', 0.75], [12, 'stapler', 8]], (err, statuses) => {
        console.log(`querymany by position: ${err ? err.Error : 'ok'}, ${statuses.length} rows run`);
      });
    conn.querymany({ sql: 'UPDATE item SET price = :price WHERE id = :id',
      values: [{ id: 10, price: 2.75 }, { id: 12, price: 7.5 }] }, (err, statuses) => {
      console.log(`querymany by name: ${err ? err.Error : 'ok'}, ${statuses.length} rows run`);
    });

    conn.query('SELECT id, name, price, added, sold, fragile FROM item WHERE price < ?', [50], show('select'));
    conn.query('SELECT note FROM item WHERE id = 1', (err, rows) => {
      console.log('a LOB arrives as an ArrayBuffer:', Buffer.from(rows[0].note).toString());
    });

    const q = conn.query('SELECT id, name, price FROM item WHERE id < 10 ORDER BY id');
    q.on('fields', (fields) => console.log('query object fields:', fields.map((f) => f.ColName).join(', ')));
    // A NULL number reads as 0 here, and is thrown as a TypeError once the
    // row has been handed over.
    for (let i = 0; i < 4; i++) {
      try {
        q.nextRecord('nextrecord', (row) => console.log(`  ${i < 3 ? 'row' : 'past the last row'}:`, line(row)));
      } catch (e) {
        console.log('  then a TypeError:', e.message);
      }
    }

    conn.query('UPDATE item SET price = price * 2 WHERE id < 3', show('update'));
    conn.query('DELETE FROM item WHERE id = 3', show('delete'));
    // A transaction: the first beginTransaction turns auto-commit off.
    const total = (label) => conn.query('SELECT sum(price) AS total FROM item', show(label));
    conn.beginTransaction((err) => console.log('beginTransaction:', err || 'ok'));
    conn.query('UPDATE item SET price = 0', () => {});
    total('inside the transaction');
    conn.rollback((err) => console.log('rollback:', err || 'ok'));
    total('after the rollback');
    conn.beginTransaction(() => {});
    conn.query('DELETE FROM item WHERE id >= 10', () => {});
    conn.commit((err) => console.log('commit:', err || 'ok'));
    total('after the commit');

    conn.query('SELECT missing FROM item', show('a failing select'));
    try {
      conn.query('SELECT 1', [], 'not a callback');
    } catch (e) {
      console.log('a wrong call throws:', e.message);
    }
    conn.end();
    try {
      conn.query('SELECT 1');
    } catch (e) {
      console.log('after end():', e.message);
    }

    console.log('\nthe wire link under it:');
    process.stdout.write(execFileSync(path.join(buildDir, 'link_demo'), [server.host, String(server.port)]));
  } finally {
    await server.stop();
  }
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});
