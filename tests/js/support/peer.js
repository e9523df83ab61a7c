// A stand-in for a server that misbehaves on purpose, run as its own process
// (the driver's calls block the test's event loop). It accepts plain logins
// and then, on the first command, does what its mode says:
//   drop     close the link without a word
//   partial  send the first byte of a reply, then close
// It prints its port on the first line of its output.
'use strict';
const net = require('node:net');

const mode = process.argv[2] || 'drop';
const loginEnd = / version = '[^']*'$/;

const server = net.createServer((socket) => {
  let login = '';
  let loggedIn = false;
  socket.on('data', (chunk) => {
    if (!loggedIn) {
      login += chunk.toString('latin1');
      if (loginEnd.test(login)) {
        loggedIn = true;
        socket.write('K');
      }
      return;
    }
    if (mode === 'partial') socket.write('A');
    socket.end();
    socket.destroy();
  });
  socket.on('error', () => {});
});
server.listen(0, '127.0.0.1', () => {
  process.stdout.write(`${server.address().port}\n`);
});
