// A server that behaves as told, run as its own process (the driver's calls
// block the event loop of the script that makes them). It accepts plain
// logins and then answers by its mode:
//   drop         closes the link at the first command, without a word
//   partial      sends the first byte of a reply to the first command, then closes
//   two-results  answers every cursor's FETCH with two result sets
//   prepare-drop answers PREPARE and closes the link at any other command
//   rows=N       serves N rows of (int, bigint, varchar(20), double) through
//                a server cursor, in blocks encoded once and sent again
//   odd-values   answers INSERT and SHOW with a row id and then a result set
//                of an array type (10005; a statement naming "typeN" gets
//                type N instead), UPDATE with a count and the same result
//                set, and a statement naming "long" with a text too long for
//                a single-value answer
//   failures     answers each statement by the word in it that names a
//                failing reply (see failingReply)
//   lobs         serves rows of (n int, c clob, b blob) through a server
//                cursor, as a login that asked for LOB descriptors gets
//                them: descriptors (answered by "get lob"), inline values
//                and NULLs. A statement naming "refused" or
//                "cut" gets one row whose character LOB's "get lob" is
//                refused, or cut short by closing the link
// It prints its port on the first line of its output.
'use strict';
const net = require('node:net');

const mode = process.argv[2] || 'drop';
const loginEnd = / version = '[^']*'$/;
const BLOCK_ROWS = 20000;
const ST_INT32 = 5;
const ST_INT64 = 6;
const ST_DOUBLE = 9;
const ST_CHAR = 30;
const ST_CLOB = 32;
const ST_BLOB = 34;
const ST_INT32_ARRAY = 10005;

function u32(n) {
  const b = Buffer.alloc(4);
  b.writeUInt32BE(n >>> 0);
  return b;
}

// An 'A' item: field descriptions, then rows of already encoded cells.
function resultSet(fields, rows) {
  const parts = [Buffer.from('A'), u32(fields.length)];
  for (const [name, type, length] of fields) {
    parts.push(u32(Buffer.byteLength(name)), Buffer.from(name), u32(type), u32(length), u32(0));
  }
  for (const cells of rows) parts.push(Buffer.from('R'), ...cells);
  return Buffer.concat(parts);
}

const cell = {
  int32(v) { const b = Buffer.alloc(8); b.writeInt32BE(4); b.writeInt32BE(v, 4); return b; },
  int64(v) { const b = Buffer.alloc(12); b.writeInt32BE(8); b.writeBigInt64BE(BigInt(v), 4); return b; },
  double(v) { const b = Buffer.alloc(12); b.writeInt32BE(8); b.writeDoubleBE(v, 4); return b; },
  text(v) { const t = Buffer.from(v); return Buffer.concat([u32(t.length), t]); },
  null: () => u32(0),
};

// The LOB rows: their values, and what a row holds of them. "get lob"
// answers a descriptor's name (its first 13 characters).
const lobFields = [['n', ST_INT32, 4], ['c', ST_CLOB, 0], ['b', ST_BLOB, 0]];
const lobValues = {
  C000000000001: Buffer.from('hello w\u00f6rld'),
  B000000000002: Buffer.from([0x61, 0x00, 0x62, 0xff, 0x00]),
};
const lobRows = [
  [cell.int32(1), cell.text('C000000000001:12'), cell.text('B000000000002:5')],
  [cell.int32(2), cell.text('cHello'), cell.text('bx\0y')],
  [cell.int32(3), cell.null(), cell.null()],
];
const failingLobs = { refused: 'C000000000404:3', cut: 'C000000000499:9' };
function lobSelect(sql) {
  const failing = Object.keys(failingLobs).find((word) => sql.includes(word));
  const rows = failing ? [[cell.int32(1), cell.text(failingLobs[failing]), cell.null()]] : lobRows;
  return Buffer.concat([resultSet(lobFields, rows), Buffer.from('K')]);
}
// The reply to "get lob": a refusal, the value in pieces, or the first of
// them and one cut short by the link closing (hangUp).
function lobPieces(name) {
  const head = Buffer.concat([resultSet([['LOB', ST_CLOB, 0]], []), Buffer.from('R')]);
  const piece = (bytes) => Buffer.concat([u32(1), cell.text(bytes)]);
  if (name === 'C000000000404') {
    return Buffer.concat([Buffer.from('E'), cell.text('[ES404]no LOB C000000000404'), Buffer.from('K')]);
  }
  if (name === 'C000000000499') {
    return Object.assign(Buffer.concat([head, piece('cd'), u32(1), u32(10), Buffer.from('abc')]), { hangUp: true });
  }
  const value = lobValues[name];
  return value ? Buffer.concat([head, piece(value), u32(0)]) : Buffer.from('K');
}
function lobSession() {
  let declared = '';
  return (text) => {
    const declare = /^DECLARE \S+ CURSOR FOR (.*)$/s.exec(text);
    if (declare) {
      declared = declare[1];
      return Buffer.from('K');
    }
    if (text.startsWith('FETCH')) return lobSelect(declared);
    const get = /^get lob '([^']*)'/.exec(text);
    return get ? lobPieces(get[1]) : Buffer.from('K');
  };
}

const benchFields = [['id', ST_INT32, 4], ['big', ST_INT64, 8], ['name', ST_CHAR, 20], ['price', ST_DOUBLE, 8]];
function benchRows(count, first) {
  const rows = [];
  for (let i = first; i < first + count; i++) {
    rows.push([cell.int32(i), cell.int64(i * 1000003), cell.text(`name-${i % 100000}`), cell.double(i / 4)]);
  }
  return rows;
}

// A single value whose type code is 100 or more without being a heap copy,
// after items that leave text in the answer area.
const oddType = (text) => Number((/\btype(\d+)\b/.exec(text) || [])[1] || ST_INT32_ARRAY);
const arrayValue = (type) => resultSet([['a', type, 4]], [[cell.text('\x01\x02\x03\x04')]]);
const rowId = Buffer.concat([Buffer.from('I'), cell.text('RowId-1234567890')]);
function oddValue(text) {
  if (text.includes('long')) {
    return Buffer.concat([resultSet([['t', ST_CHAR, 200]], [[cell.text('x'.repeat(100))]]), Buffer.from('K')]);
  }
  const value = arrayValue(oddType(text));
  if (text.startsWith('UPDATE')) return Buffer.concat([Buffer.from('U'), u32(3), value, Buffer.from('K')]);
  return Buffer.concat([rowId, value, Buffer.from('K')]);
}

// Replies that fail: a refusal, and an error whose text is too long to hold.
// Any other statement succeeds.
const text = (letter, t) => Buffer.concat([Buffer.from(letter), cell.text(t)]);
function failingReply(sql) {
  const parts = [];
  if (sql.includes('refused')) parts.push(text('E', 'refusal of the first call'));
  if (sql.includes('huge')) parts.push(Buffer.from('E'), u32(0x80000000), Buffer.from('xyz'));
  parts.push(Buffer.from('K'));
  return Buffer.concat(parts);
}

// Answers for one connection, by command text.
function session() {
  if (mode === 'lobs') return lobSession();
  const total = mode.startsWith('rows=') ? Number(mode.slice(5)) : 0;
  const fullBlock = total ? Buffer.concat([resultSet(benchFields, benchRows(BLOCK_ROWS, 0)), Buffer.from('K')]) : null;
  let remaining = 0;
  return (text) => {
    if (mode === 'odd-values') return /^(INSERT|UPDATE|SHOW)/.test(text) ? oddValue(text) : Buffer.from('K');
    if (mode === 'failures') return failingReply(text);
    if (text.startsWith('DECLARE')) {
      remaining = total;
      return Buffer.from('K');
    }
    if (!text.startsWith('FETCH')) return Buffer.from('K');
    if (mode === 'two-results') {
      return Buffer.concat([
        resultSet([['a', ST_INT32, 4]], [[cell.int32(1)], [cell.int32(2)]]),
        resultSet([['b', ST_CHAR, 10], ['c', ST_INT32, 4]], [[cell.text('x'), cell.int32(3)]]),
        Buffer.from('K'),
      ]);
    }
    const n = Math.min(BLOCK_ROWS, remaining);
    remaining -= n;
    if (n === BLOCK_ROWS) return fullBlock;
    return Buffer.concat([resultSet(benchFields, benchRows(n, 0)), Buffer.from('K')]);
  };
}

const server = net.createServer((socket) => {
  socket.setNoDelay(true);
  let login = '';
  let loggedIn = false;
  let pending = Buffer.alloc(0);
  const answer = session();
  socket.on('data', (chunk) => {
    if (!loggedIn) {
      login += chunk.toString('latin1');
      if (loginEnd.test(login)) {
        loggedIn = true;
        socket.write('K');
      }
      return;
    }
    if (mode === 'drop' || mode === 'partial') {
      if (mode === 'partial') socket.write('A');
      socket.end();
      socket.destroy();
      return;
    }
    // '?' frames without parameters: letter, length, text and its zero, count.
    pending = Buffer.concat([pending, chunk]);
    while (pending.length >= 5) {
      const length = pending.readUInt32BE(1);
      const size = 1 + 4 + length + 1 + 4;
      if (pending.length < size) break;
      const text = pending.toString('latin1', 5, 5 + length);
      pending = pending.subarray(size);
      if (mode === 'prepare-drop' && !text.startsWith('PREPARE')) {
        socket.destroy();
        return;
      }
      const reply = answer(text);
      socket.write(reply);
      if (reply.hangUp) {
        socket.end();
        return;
      }
    }
  });
  socket.on('error', () => {});
});
server.listen(0, '127.0.0.1', () => {
  process.stdout.write(`${server.address().port}\n`);
});
