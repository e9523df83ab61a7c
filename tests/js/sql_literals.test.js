// Literal substitution, through the test-only module that lays it open.
'use strict';
const { test } = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { buildDir } = require('./support/driver');

const probe = require(path.join(buildDir, 'sql_literals_probe.node'));

test('a first run of one or two marks takes the value; longer runs and texts without marks stay', () => {
  for (const [form, text, want] of [
    ['quoted', 'a=? and b=?', "a='x' and b=?"],
    ['quoted', 'a=??', 'a=x'],
    ['quoted', 'a=??? and b=?', 'a=??? and b=?'],
    ['quoted', 'no marks', 'no marks'],
    ['bare', 'a=?', 'a=x'],
    ['bare', 'a=?? b=?', 'a=x b=?'],
    ['bare', 'a=???', 'a=???'],
    ['bare', '', ''],
    ['single', 'a=?', 'a=x'],
    ['single', 'a=?? b=?', 'a=?? b=?'],
    ['single', 'no marks', 'no marks'],
    ['quoted', '?', "'x'"],
    ['bare', 'end?', 'endx'],
  ]) {
    assert.equal(probe.substitute(form, text, 'x'), want, `${form} ${text}`);
  }
  // A quote of the value cannot end its literal; a '??' run takes the value as it stands.
  assert.equal(probe.substitute('quoted', 'name=?', "x' OR '1'='1"), "name='x'' OR ''1''=''1'");
  assert.equal(probe.substitute('quoted', 'name=??', "o'k"), "name=o'k");
  assert.deepEqual(probe.leftRight('abcdef', 2), ['ab', 'cdef']);
  assert.deepEqual(probe.leftRight('abc', 3), ['abc', '']);
  assert.deepEqual(probe.leftRight('abc', 9), ['abc', '']);
});

test('arrays become parenthesised lists, arrays of arrays lists joined by a blank', () => {
  const when = new Date(2024, 0, 31, 13, 5, 9);
  for (const [list, want] of [
    [[1, 'a', null, true], "(1,'a',NULL,true)"],
    [["it's", "''"], "('it''s','''''')"],
    [[], '()'],
    [[1.5, -0, 2 ** 31, undefined, false, when], "(1.5,0,2147483648,NULL,false,'2024-01-31 13:05:09')"],
    [[1, {}], '?'],
    [[1, [2]], '?'],
    [[Buffer.from('b')], '?'],
  ]) {
    assert.equal(probe.arrayList(list), want, JSON.stringify(list));
  }
  for (const [nested, want] of [
    [[[1, 2], [3]], '(1,2) (3)'],
    [[[1], 2], '?'],
    [[[1], [{}]], '?'],
    [[[]], '()'],
    [[], ''],
  ]) {
    assert.equal(probe.nestedList(nested), want, JSON.stringify(nested));
  }
  // A getter that throws gives no list; its exception reaches the caller.
  const throwing = [1];
  Object.defineProperty(throwing, 0, { get() { throw new Error('getter'); } });
  assert.throws(() => probe.arrayList(throwing), /getter/);
});

const unused = (from) => ({ index: Array(20 - from).fill(-1), position: Array(20 - from).fill(-2) });

test('values are substituted in order; Buffers keep their marks and are recorded', () => {
  const buf = Buffer.from('bytes');
  const cases = [
    // [text, params, text after, [[index, position] per recorded Buffer]]
    ['insert into t values(?,?,?)', ['a', buf, 5], "insert into t values('a',?,5)", [[1, 25]]],
    ['t', undefined, 't', []],
    ['a=? b=?', [], 'a=? b=?', []],
    // A '??' run is one Buffer mark of one character.
    ['x(??,?,?)', [buf, new Uint8Array(2), 'q'], "x(?,?,'q')", [[0, 2], [1, 4]]],
    // What a value brings in is never taken for a mark.
    ['a=? b=?', ['wh?', 7], "a='wh?' b=7", []],
    ['a=? b=? c=?', [[['?', "'?"]], '??', 1], "a=('?','''?') b='??' c=1", []],
    ['in ? and ?', [[[1, 2], [3]], 'z'], "in (1,2) (3) and 'z'", []],
    // An array needs a lone mark.
    ['in ?? x', [[[1]]], 'in ?? x', []],
    ['n=? m=? k=?', [1.25, null, false], 'n=1.25 m=NULL k=false', []],
    ['a=? b=?', [1, 2, 3, buf], 'a=1 b=2', []],
    // Work stops at a value without a literal; an earlier Buffer's mark stays '^'.
    ['(?,?,?)', [buf, {}, 1], '(^,?,?)', [[0, 1]]],
    ['(?,?,?)', [1, [[1], 2], 3], '(1,?,?)', []],
    // A run of three marks takes nothing and stops every later value; a
    // Buffer is recorded at it all the same. A surplus Buffer is passed over.
    ['(???,?)', [buf, 1], '(???,?)', [[0, 1]]],
    ['? ???', [buf, buf], '? ???', [[0, 0], [1, 2]]],
    ['a=? b', [buf, buf, 'c'], 'a=? b', [[0, 2]]],
  ];
  for (const [text, params, want, lobs] of cases) {
    const info = probe.sqlText(text, params);
    const label = `${text} ${params === undefined ? '' : params.length}`;
    assert.equal(info.sql, want, label);
    assert.equal(info.lobCount, lobs.length, label);
    const rest = unused(lobs.length);
    assert.deepEqual(info.lobIndex, [...lobs.map((l) => l[0]), ...rest.index], label);
    assert.deepEqual(info.lobPosition, [...lobs.map((l) => l[1]), ...rest.position], label);
  }
});

test('a 21st Buffer ends the work without writing past the record', () => {
  const bufs = Array.from({ length: 21 }, (_, i) => Buffer.from([i]));
  const marks = Array(21).fill('?').join(',');
  const full = probe.sqlText(`v(${marks}) w=?`, [...bufs, 1]);
  assert.equal(full.lobCount, 20);
  assert.deepEqual(full.lobIndex, [...Array(20).keys()]);
  assert.deepEqual(full.lobPosition, Array.from({ length: 20 }, (_, i) => 2 + 2 * i));
  assert.equal(full.sql, `v(${Array(20).fill('^').join(',')},?) w=?`);
});

test('a millisecond time is formatted into its own buffer', () => {
  for (const [ms, want] of [
    [0, '1970-01-01 00:00:00'],
    [Date.UTC(2024, 1, 29, 23, 59, 58, 999), '2024-02-29 23:59:58'],
    [-1000, '1969-12-31 23:59:59'],
  ]) {
    assert.equal(probe.formatDatetime(ms), want, String(ms));
  }
});
