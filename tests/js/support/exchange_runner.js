// Runs one exchange of the driver per message from its parent and answers
// with what the script saw. The driver's calls block, so they run here, apart
// from the parent's event loop; the library's console lines go nowhere.
//
//   message in:  { exchange, connString, alone }
//   message out: { outcome, after }   outcome: what the exchange gave;
//                after: what a SELECT on the same connection gave next
//                (null when alone)
'use strict';
const { rizezova } = require('./driver');

const ROWS = Number(process.argv[2]);

// What each exchange hands the script, in a form that compares whole.
const EXCHANGES = {
  login: (conn) => {
    let got;
    conn.connect((err) => { got = err; });
    return got;
  },
  // Rows come as their count and sum: a prefix of 1..n sums to n(n+1)/2.
  cursor: (conn) => {
    let got;
    conn.query('SELECT x FROM big ORDER BY x', (err, rows) => {
      got = [err, rows.length, rows.reduce((sum, row) => sum + row.x, 0)];
    });
    return got;
  },
  // A query object read one row past its end, or up to a text given instead
  // of a row: the rows, the texts, and the errors it threw.
  reader: (conn) => {
    const q = conn.query('SELECT x FROM big ORDER BY x');
    let count = 0;
    let sum = 0;
    const texts = [];
    const thrown = new Set();
    q.on('error', (text) => texts.push(text));
    for (let i = 0; i <= ROWS && texts.length < 2; i++) {
      try {
        q.nextRecord('nextrecord', (row) => {
          if (typeof row === 'string' || row === null) {
            texts.push(row);
          } else {
            count++;
            sum += row.x;
          }
        });
      } catch (e) {
        thrown.add(e.message);
      }
    }
    return [count, sum, texts, [...thrown]];
  },
  insert: (conn) => {
    let got;
    conn.query('INSERT OR REPLACE INTO one (id, v) VALUES (1, ?)', ['x'], (...args) => { got = args; });
    return got;
  },
  prepared: (conn) => {
    let got;
    conn.querymany('INSERT OR REPLACE INTO one (id, v) VALUES (?, ?)', [[2, 'a'], [3, 'b']], (...args) => {
      got = args;
    });
    return got;
  },
  lob: (conn) => {
    let got;
    conn.query('SELECT body FROM doc', (err, rows) => {
      got = [err, rows.map((row) => Buffer.from(row.body).toString('latin1'))];
    });
    return got;
  },
  select: (conn) => {
    let got;
    conn.query('SELECT id, v FROM one ORDER BY id', (...args) => { got = args; });
    return got;
  },
};

process.on('message', ({ exchange, connString, alone }) => {
  const conn = rizezova.createConnection(connString);
  let outcome;
  let after = null;
  if (exchange === 'login') {
    outcome = EXCHANGES.login(conn);
  } else {
    conn.connect();
    outcome = EXCHANGES[exchange](conn);
    if (!alone) conn.query('SELECT 1 AS one', (err, rows) => { after = [err, rows]; });
  }
  // The connection can still be closed, whatever happened to its link.
  conn.destry();
  process.send({ outcome, after });
});
