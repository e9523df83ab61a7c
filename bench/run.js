// npm run bench: builds what it needs, starts the stand-in server, measures
// the driver beside a baseline taken in the same run, prints one table and
// writes bench/results.json. Every figure is the median of RUNS runs (at least
// 5) after a warm-up; driver and baseline runs take turns, so that the load of
// a shared machine falls on both.
//
//   node --expose-gc bench/run.js [RUNS] [NAME...]     (npm run bench -- 9 batch)
//
// The library's own measurements and the floors run in build/release/library_runs.
'use strict';
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const root = path.resolve(__dirname, '..');
const benchDir = __dirname;
const buildDir = path.join(root, 'build', 'release');
const helper = path.join(buildDir, 'library_runs');

const FETCH_ROWS = 1000000;
const LONG_ROWS = 10000000;
const INSERTS = 20000;
const MANY_ROWS = 10000;
const BATCH_ROWS = 100000;
const CONNECTS = 1000;
const SQL = 'SELECT id, big, name, score FROM t';

const args = process.argv.slice(2);
const RUNS = Math.max(5, Number(args.find((a) => /^\d+$/.test(a))) || 7);
const only = args.filter((a) => !/^\d+$/.test(a));

const gc = globalThis.gc || (() => {});
const median = (xs) => {
  const s = [...xs].sort((a, b) => a - b);
  const m = s.length >> 1;
  return s.length % 2 ? s[m] : (s[m - 1] + s[m]) / 2;
};
function seconds(fn) {
  const start = process.hrtime.bigint();
  fn();
  return Number(process.hrtime.bigint() - start) / 1e9;
}
function check(err) {
  if (err) throw new Error(err.Error || err);
}

// ---- what the run needs ----

// The Debian packages the build needs (Google Benchmark among them: the
// helper is built with the benchmarks), then the release tree.
function build() {
  const quiet = { stdio: ['ignore', 'ignore', 'inherit'] };
  execFileSync(path.join(root, 'scripts', 'bootstrap.sh'), quiet);
  execFileSync(path.join(root, 'scripts', 'build.sh'), ['release'], quiet);
  if (!fs.existsSync(helper)) throw new Error(`${helper} was not built`);
}

// better-sqlite3 is the benchmarks' own dependency: installed into bench/ when
// missing, built from source against the system's Node headers.
function baselineLibrary() {
  const load = () => require(require.resolve('better-sqlite3', { paths: [benchDir] }));
  try {
    return load();
  } catch {
    console.error('bench: installing better-sqlite3 into bench/ (builds from source, a few minutes)');
    const env = { ...process.env, npm_config_build_from_source: 'true' };
    if (!env.npm_config_nodedir && fs.existsSync('/usr/include/node/node.h')) env.npm_config_nodedir = '/usr';
    execFileSync('npm', ['install', '--no-audit', '--no-fund'], { cwd: benchDir, env, stdio: 'inherit' });
    return load();
  }
}

// Lines of numbers from a mode of library_runs.
function library(...modeArgs) {
  const out = execFileSync(helper, modeArgs.map(String), { maxBuffer: 1 << 20 }).toString();
  return out.trim().split('\n').map((line) => line.trim().split(/\s+/).map(Number));
}

// ---- taking turns ----

// One warm-up of each, then RUNS turns; each function answers one sample.
function turns(driver, baseline) {
  gc(); driver();
  gc(); baseline();
  const d = [];
  const b = [];
  for (let r = 0; r < RUNS; r++) {
    gc(); d.push(driver());
    gc(); b.push(baseline());
  }
  return { driver: median(d), baseline: median(b) };
}

// ---- the measurements ----
// Each answers { driver, baseline } in its unit; `goal` (when there is one)
// answers whether the figures meet it, given every figure of the run.

const measurements = [
  {
    name: 'fetch_library',
    unit: 'rows/s',
    baseline_is: "the link's floor: the same cursor exchanges with the stand-in on the same link, replies read without decoding",
    goal: { text: '>= 0.5x floor', met: (m) => m.driver >= 0.5 * m.baseline },
    run: (w) => fetchLibrary(w.plain),
  },
  {
    name: 'fetch_library_replayed',
    unit: 'rows/s',
    baseline_is: "the link's floor: the same replies, replayed by a peer that holds them encoded, read without decoding",
    goal: { text: '>= 0.5x floor', met: (m) => m.driver >= 0.5 * m.baseline },
    run: (w) => fetchLibrary(w.replayed),
  },
  {
    // What a script meets where the server is not the limit.
    name: 'fetch_script_replayed',
    unit: 'rows/s',
    baseline_is: 'better-sqlite3 .all() on the same rows, as for fetch_script_callback; the driver reads them from the replaying peer',
    run: (w) => {
      const stmt = w.sqlite.prepare(SQL);
      return rates(FETCH_ROWS, turns(() => viaCallback(w.replayConn), () => seconds(() => expectRows(stmt.all().length))));
    },
  },
  {
    name: 'fetch_script_callback',
    unit: 'rows/s',
    baseline_is: 'better-sqlite3 .all(), the same SELECT on the same SQLite data',
    goal: { text: '>= 3.5x baseline', met: (m) => m.driver >= 3.5 * m.baseline },
    run: (w) => {
      const stmt = w.sqlite.prepare(SQL);
      return rates(FETCH_ROWS, turns(() => viaCallback(w.conn), () => seconds(() => expectRows(stmt.all().length))));
    },
  },
  {
    name: 'fetch_script_object',
    unit: 'rows/s',
    baseline_is: 'better-sqlite3 .iterate(), row by row',
    goal: { text: '>= 2.5x baseline', met: (m) => m.driver >= 2.5 * m.baseline },
    run: (w) => {
      const stmt = w.sqlite.prepare(SQL);
      return rates(FETCH_ROWS, turns(() => viaQueryObject(w.conn), () => seconds(() => iterate(stmt))));
    },
  },
  {
    name: 'fetch_script_object_replayed',
    unit: 'rows/s',
    baseline_is: 'better-sqlite3 .iterate(), as for fetch_script_object; the driver reads the rows from the replaying peer',
    run: (w) => {
      const stmt = w.sqlite.prepare(SQL);
      return rates(FETCH_ROWS, turns(() => viaQueryObject(w.replayConn), () => seconds(() => iterate(stmt))));
    },
  },
  {
    name: 'fetch_encrypted',
    unit: 'rows/s',
    baseline_is: 'the same fetch through query on a plain link',
    goal: { text: '>= 0.9x baseline', met: (m) => m.driver >= 0.9 * m.baseline },
    run: (w) => rates(FETCH_ROWS, turns(() => viaCallback(w.sslConn), () => viaCallback(w.conn))),
  },
  {
    name: 'insert_single',
    unit: 'rows/s',
    baseline_is: 'the round-trip floor: a 64-byte request and an 8-byte reply between two processes on a loopback TCP link, per second',
    run: (w) => rates(INSERTS, turns(() => seconds(() => {
      w.conn.query('DELETE FROM s', check);
      for (let i = 0; i < INSERTS; i++) w.conn.query('INSERT INTO s VALUES (?, ?, ?)', [i, `name-${i}`, i / 4], check);
    }), () => library('roundtrip', INSERTS, 1)[0][0])),
  },
  {
    name: 'querymany',
    unit: 's/row',
    baseline_is: 'the round-trip floor, seconds per round trip',
    goal: { text: '<= 2x floor', met: (m) => m.driver <= 2 * m.baseline },
    run: (w) => querymany(w.conn, false),
  },
  {
    // The same inside one transaction: the server then commits once, not
    // once per row.
    name: 'querymany_in_transaction',
    unit: 's/row',
    baseline_is: 'the round-trip floor, seconds per round trip',
    goal: { text: '<= 1.5x floor', met: (m) => m.driver <= 1.5 * m.baseline },
    run: (w) => querymany(w.txConn, true),
  },
  {
    name: 'batch',
    unit: 'rows/s',
    baseline_is: 'better-sqlite3 inserting the same rows in one transaction',
    note: `sent as ${Math.ceil(BATCH_ROWS / 65535)} batches: a request's count word holds at most 65535 rows`,
    goal: {
      text: '>= 10x querymany rows/s',
      met: (m, all) => (all.querymany ? m.driver >= 10 / all.querymany.driver : null),
    },
    run: (w) => {
      const insert = w.batchDb.prepare('INSERT INTO b VALUES (?, ?, ?, ?)');
      const many = w.batchDb.transaction((n) => {
        for (let i = 0; i < n; i++) insert.run(i, i * 1000003, `name-${i % 100000}`, i / 4);
      });
      return rates(BATCH_ROWS, turns(() => library('batch', w.plainStr, BATCH_ROWS, 1)[0][0], () => {
        w.batchDb.exec('DELETE FROM b');
        return seconds(() => many(BATCH_ROWS));
      }));
    },
  },
  {
    name: 'connect_plain',
    unit: 'connects/s',
    baseline_is: 'a bare TCP connect and close on a loopback link',
    run: (w) => connects(w, w.plainStr),
  },
  {
    name: 'connect_encrypted',
    unit: 'connects/s',
    baseline_is: 'a bare TCP connect and close on a loopback link',
    run: (w) => connects(w, w.sslStr),
  },
  {
    name: 'memory_held',
    unit: 'bytes',
    baseline_is: 'the bytes of those rows on the wire',
    goal: { text: '<= 1.5x baseline', met: (m) => m.driver <= 1.5 * m.baseline },
    run: (w) => {
      // Each run is a fresh process, so that its peak is its own.
      const runs = Array.from({ length: RUNS }, () => library('memory', w.plainStr, SQL)[0]);
      for (const [, , rows] of runs) expectRows(rows);
      return { driver: median(runs.map((r) => r[0])), baseline: median(runs.map((r) => r[1])) };
    },
  },
  {
    name: 'memory_query_object',
    unit: 'bytes',
    baseline_is: 'the resident memory of the same process after the first 1,000,000 of those rows',
    note: `a query object reads ${LONG_ROWS / 1e6} M rows from the replaying peer; the figure is the resident memory ` +
      'after the last row',
    goal: { text: '<= 1.1x baseline (flat)', met: (m) => m.driver <= 1.1 * m.baseline },
    run: (w) => {
      let n = 0;
      const keep = (row) => { n += row.id >= 0 ? 1 : 0; };
      gc();
      const q = w.longConn.query(SQL);
      let first = 0;
      for (let i = 1; i <= LONG_ROWS; i++) {
        q.on('result', keep);
        if (i === FETCH_ROWS) first = process.memoryUsage().rss;
      }
      if (n !== LONG_ROWS) throw new Error(`${n} rows where ${LONG_ROWS} were expected`);
      return { driver: process.memoryUsage().rss, baseline: first };
    },
  },
];

function expectRows(n) {
  if (n !== FETCH_ROWS) throw new Error(`${n} rows where ${FETCH_ROWS} were expected`);
}

function iterate(stmt) {
  let n = 0;
  for (const row of stmt.iterate()) n += row.id >= 0 ? 1 : 0;
  expectRows(n);
}

function rates(count, t) {
  return { driver: count / t.driver, baseline: count / t.baseline };
}

function fetchLibrary(connStr) {
  const runs = library('fetch', connStr, SQL, RUNS);
  for (const [, , rows] of runs) expectRows(rows);
  return {
    driver: FETCH_ROWS / median(runs.map((r) => r[0])),
    baseline: FETCH_ROWS / median(runs.map((r) => r[1])),
  };
}

function querymany(conn, inTransaction) {
  const rows = Array.from({ length: MANY_ROWS }, (_, i) => [i, `name-${i}`, i / 4]);
  const t = turns(() => {
    conn.query('DELETE FROM q', check);
    let done = 0;
    const s = seconds(() => {
      if (inTransaction) conn.beginTransaction(check);
      conn.querymany('INSERT INTO q VALUES (?, ?, ?)', rows, (err, statuses) => {
        check(err);
        done = statuses.length;
      });
      if (inTransaction) conn.commit(check);
    });
    if (done !== MANY_ROWS) throw new Error(`querymany ran ${done} rows`);
    return s;
  }, () => library('roundtrip', MANY_ROWS, 1)[0][0]);
  return { driver: t.driver / MANY_ROWS, baseline: t.baseline / MANY_ROWS };
}

function viaCallback(conn) {
  let count = 0;
  const s = seconds(() => conn.query(SQL, (err, rows) => {
    check(err);
    count = rows.length;
  }));
  expectRows(count);
  return s;
}

function viaQueryObject(conn) {
  let n = 0;
  const keep = (row) => { n += row.id >= 0 ? 1 : 0; };
  const s = seconds(() => {
    const q = conn.query(SQL);
    for (let i = 0; i < FETCH_ROWS; i++) q.on('result', keep);
  });
  expectRows(n);
  return s;
}

function connects(w, connStr) {
  return rates(CONNECTS, turns(() => seconds(() => {
    for (let i = 0; i < CONNECTS; i++) {
      const c = w.rizezova.createConnection(connStr);
      c.connect();
      c.end();
    }
  }), () => library('connect', CONNECTS, 1)[0][0]));
}

// ---- the table ----

function figure(unit, v) {
  if (!Number.isFinite(v)) return 'failed';
  if (unit === 's/row') return `${(v * 1e6).toFixed(1)} us`;
  if (unit === 'bytes') return `${(v / 1e6).toFixed(1)} MB`;
  if (v >= 1e6) return `${(v / 1e6).toFixed(2)} M`;
  if (v >= 1e3) return `${(v / 1e3).toFixed(1)} k`;
  return v.toFixed(0);
}

function table(machine, results, conditions) {
  const head = ['measurement', 'unit', 'driver', 'baseline', 'ratio', 'goal', 'met'];
  const rows = results.map((m) => [m.name, m.unit, figure(m.unit, m.driver), figure(m.unit, m.baseline),
    Number.isFinite(m.ratio) ? `${m.ratio.toFixed(2)}x` : '-', m.goal || '-', m.met === null ? '-' : m.met ? 'yes' : 'no']);
  const widths = head.map((h, i) => Math.max(h.length, ...rows.map((r) => r[i].length)));
  const line = (cells) => `| ${cells.map((c, i) => c.padEnd(widths[i])).join(' | ')} |`;
  const out = [
    `${machine.cpus} cores, ${machine.cpu}, Node ${machine.node}`,
    `medians of ${conditions.runs} runs after a warm-up; load average ${conditions.load_before.join(' ')} before, ` +
      `${conditions.load_after.join(' ')} after`,
    '',
    line(head),
    `|${widths.map((w) => '-'.repeat(w + 2)).join('|')}|`,
    ...rows.map(line),
    '',
    'ratio: driver / baseline.',
    ...results.map((m) => `${m.name}: baseline is ${m.baseline_is}${m.note ? `; ${m.note}` : ''}.` +
      (m.failed ? ` FAILED: ${m.failed}` : '')),
  ];
  return out.join('\n');
}

// ---- the run ----

async function main() {
  build();
  const Database = baselineLibrary();
  const { startStandin } = require(path.join(root, 'tools', 'standin', 'launch'));
  const { startPeer } = require(path.join(root, 'tests', 'js', 'support', 'driver'));
  const rizezova = require(path.join(buildDir, 'rizezova.node'));

  const cpus = os.cpus();
  const machine = { cpus: cpus.length, cpu: cpus[0] ? cpus[0].model.trim() : 'unknown', node: process.version };
  const load = () => os.loadavg().map((x) => Number(x.toFixed(2)));
  const conditions = { runs: RUNS, load_before: load(), load_after: null };

  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'rizezova-bench-'));
  const dbPath = path.join(dir, 'standin.db');
  const server = await startStandin({ args: ['--db', dbPath] });
  const peer = await startPeer(`rows=${FETCH_ROWS}`);
  const longPeer = await startPeer(`rows=${LONG_ROWS}`);
  const w = {
    rizezova,
    host: server.host,
    port: server.port,
    plainStr: `IP=${server.host};Port=${server.port};USER=bench;PWD=bench`,
  };
  w.sslStr = `${w.plainStr};USE_SSL=on`;
  w.plain = w.plainStr;
  w.replayed = `IP=${peer.host};Port=${peer.port}`;
  w.longReplayed = `IP=${longPeer.host};Port=${longPeer.port}`;
  const results = [];
  try {
    w.conn = rizezova.createConnection(w.plainStr);
    w.sslConn = rizezova.createConnection(w.sslStr);
    // A transaction leaves auto-commit off on its link for good: it has one of its own.
    w.txConn = rizezova.createConnection(w.plainStr);
    w.replayConn = rizezova.createConnection(w.replayed);
    w.longConn = rizezova.createConnection(w.longReplayed);
    for (const c of [w.conn, w.sslConn, w.txConn, w.replayConn, w.longConn]) c.connect();
    // Names of 6 to 10 characters, as the script measurements make them.
    w.conn.query('CREATE TABLE t (id INT, big BIGINT, name VARCHAR(20), score DOUBLE)', check);
    w.conn.query(`INSERT INTO t WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < ${FETCH_ROWS - 1}) ` +
      "SELECT i, i * 1000003, 'name-' || (i % 100000), i / 4.0 FROM n", check);
    w.conn.query('CREATE TABLE s (id INT, name VARCHAR(20), score DOUBLE)', check);
    w.conn.query('CREATE TABLE q (id INT, name VARCHAR(20), score DOUBLE)', check);
    w.conn.query('CREATE TABLE b (id INT, big BIGINT, name VARCHAR(20), score DOUBLE)', check);
    w.sqlite = new Database(dbPath, { readonly: true });
    // The baseline's inserts go to a file of their own, kept as the stand-in
    // keeps its own.
    w.batchDb = new Database(path.join(dir, 'baseline.db'));
    w.batchDb.pragma('journal_mode = WAL');
    w.batchDb.pragma('synchronous = NORMAL');
    w.batchDb.exec('CREATE TABLE b (id INT, big BIGINT, name VARCHAR(20), score DOUBLE)');

    const byName = {};
    for (const m of measurements) {
      if (only.length && !only.includes(m.name)) continue;
      const started = Date.now();
      let figures;
      try {
        figures = m.run(w);
      } catch (e) {
        // One failed measurement leaves the others standing.
        process.stderr.write(`bench: ${m.name} failed: ${e.message}\n`);
        figures = { driver: NaN, baseline: NaN, failed: e.message.split('\n')[0] };
      }
      process.stderr.write(`bench: ${m.name} (${((Date.now() - started) / 1000).toFixed(0)} s)\n`);
      const { driver, baseline } = figures;
      const result = { name: m.name, unit: m.unit, driver, baseline, baseline_is: m.baseline_is, ratio: driver / baseline };
      if (m.note) result.note = m.note;
      if (figures.failed) result.failed = figures.failed;
      byName[m.name] = result;
      results.push({ result, m });
    }
    for (const { result, m } of results) {
      result.goal = m.goal ? m.goal.text : null;
      result.met = m.goal && !result.failed ? m.goal.met(result, byName) : null;
    }
  } finally {
    const closers = [() => w.conn.end(), () => w.sslConn.end(), () => w.txConn.end(), () => w.replayConn.end(),
      () => w.longConn.end(), () => w.sqlite.close(),
      () => w.batchDb.close()];
    for (const close of closers) {
      try {
        close();
      } catch {
        // Not opened: nothing to close.
      }
    }
    await peer.stop();
    await longPeer.stop();
    await server.stop();
    fs.rmSync(dir, { recursive: true, force: true });
  }
  conditions.load_after = load();
  const list = results.map((r) => r.result);
  console.log(table(machine, list, conditions));
  fs.writeFileSync(path.join(benchDir, 'results.json'),
    `${JSON.stringify({ machine, conditions, measurements: list }, null, 2)}\n`);
  if (list.some((m) => m.failed)) process.exitCode = 1;
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});
