// What the script tests share: the module under test (from RZ_BUILD_DIR, else
// the release tree), the stand-in server, and the misbehaving peer.
'use strict';
const path = require('node:path');
const { spawn } = require('node:child_process');

const root = path.resolve(__dirname, '..', '..', '..');
const buildDir = path.resolve(root, process.env.RZ_BUILD_DIR || path.join('build', 'release'));
const modulePath = path.join(buildDir, 'rizezova.node');

// Starts the misbehaving peer in its own process: { host, port, stop }.
function startPeer(mode) {
  const child = spawn(process.execPath, [path.join(__dirname, 'peer.js'), mode], {
    stdio: ['ignore', 'pipe', 'inherit'],
  });
  return new Promise((resolve, reject) => {
    let out = '';
    child.stdout.on('data', (chunk) => {
      out += chunk;
      const line = out.split('\n');
      if (line.length > 1) {
        resolve({
          host: '127.0.0.1',
          port: Number(line[0]),
          stop: () => new Promise((done) => { child.once('exit', done); child.kill(); }),
        });
      }
    });
    child.once('exit', (code) => reject(new Error(`peer exited with ${code}`)));
  });
}

// A port on which nothing listens.
async function closedPort() {
  const net = require('node:net');
  const server = net.createServer();
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const { port } = server.address();
  await new Promise((resolve) => server.close(resolve));
  return port;
}

// The rows a query object hands out, one call at a time, and the message
// each call threw (null for one that threw nothing).
function objectRows(q, event, count) {
  const rows = [];
  const errors = [];
  const read = event === 'result' ? (cb) => q.on('result', cb) : (cb) => q.nextRecord('nextrecord', cb);
  for (let i = 0; i < count; i++) {
    try {
      read((row) => rows.push(row));
      errors.push(null);
    } catch (e) {
      errors.push(e.message);
    }
  }
  return { rows, errors };
}

module.exports = {
  rizezova: require(modulePath),
  modulePath,
  buildDir,
  startPeer,
  closedPort,
  objectRows,
};
