// Rows per second of a 1,000,000-row SELECT of four columns (int, bigint,
// varchar(20), double), read through query with a callback and through a
// query object, beside two floors measured in the same run:
//   library   the same SELECT through the client library alone (rows_floor)
//   script    the same row objects made by plain script, no driver at all
// The rows come from a peer that replays encoded blocks, so the server's own
// cost stays out. Runs are interleaved; medians are reported.
//
//   node --expose-gc bench/rows.js [runs]      (npm run bench)
'use strict';
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { rizezova, buildDir, startPeer } = require('../tests/js/support/driver');

const ROWS = 1000000;
const SQL = 'SELECT id, big, name, price FROM t';
const runs = Number(process.argv[2] || 7);
const gc = globalThis.gc || (() => {});

const seconds = (start) => Number(process.hrtime.bigint() - start) / 1e9;
const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];

function viaCallback(conn) {
  let count = 0;
  const start = process.hrtime.bigint();
  conn.query(SQL, (err, rows) => {
    if (err) throw new Error(err.Error);
    count = rows.length;
  });
  const s = seconds(start);
  if (count !== ROWS) throw new Error(`query gave ${count} rows`);
  return s;
}

function viaQueryObject(conn) {
  let last = null;
  const keep = (row) => { last = row; };
  const start = process.hrtime.bigint();
  const q = conn.query(SQL);
  for (let i = 0; i < ROWS; i++) q.on('result', keep);
  const s = seconds(start);
  if (last.id !== ROWS - 1 - Math.floor((ROWS - 1) / 20000) * 20000) throw new Error('query object rows out of step');
  return s;
}

function viaScript() {
  const start = process.hrtime.bigint();
  const rows = [];
  for (let i = 0; i < ROWS; i++) {
    rows.push({ id: i % 20000, big: (i % 20000) * 1000003, name: `name-${i % 20000}`, price: (i % 20000) / 4 });
  }
  const s = seconds(start);
  if (rows.length !== ROWS) throw new Error('script rows');
  return s;
}

function viaLibrary(peer) {
  const out = execFileSync(path.join(buildDir, 'rows_floor'), [peer.host, String(peer.port), SQL, '1']).toString();
  return Number(out.split(' ')[0]);
}

async function main() {
  const peer = await startPeer(`rows=${ROWS}`);
  const conn = rizezova.createConnection({ host: peer.host, port: peer.port });
  conn.connect();
  const times = { library: [], script: [], query: [], 'query object': [] };
  try {
    for (let r = 0; r < runs; r++) {
      gc(); times.library.push(viaLibrary(peer));
      gc(); times.script.push(viaScript());
      gc(); times.query.push(viaCallback(conn));
      gc(); times['query object'].push(viaQueryObject(conn));
    }
  } finally {
    conn.end();
    await peer.stop();
  }
  const rate = (name) => ROWS / median(times[name]);
  console.log(`${ROWS} rows x 4 columns, ${runs} runs, medians:`);
  for (const name of Object.keys(times)) {
    const note = name === 'query' || name === 'query object'
      ? `  (${(rate('library') / rate(name)).toFixed(2)}x the library's time, ${(rate('script') / rate(name)).toFixed(2)}x the script's)`
      : '';
    console.log(`  ${name.padEnd(13)} ${(rate(name) / 1e6).toFixed(2)} M rows/s${note}`);
  }
}

main().catch((e) => { console.error(e); process.exit(1); });
