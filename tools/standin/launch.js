'use strict';
// Starts the built stand-in server on a free loopback port for a script, and
// stops it again:
//
//   const { startStandin } = require('./tools/standin/launch');
//   const server = await startStandin({ args: ['--login-reply', 'K'] });
//   ... connect to server.host:server.port ...
//   await server.stop();
//
// options.args: extra command-line arguments; options.buildDir: where the
// built `standin` lies (default: $RZ_BUILD_DIR, else build/release).

const { spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const START_TIMEOUT_MS = 10000;
// Output kept for the message of a failed start.
const OUTPUT_KEEP = 4096;

async function startStandin(options = {}) {
  const buildDir = options.buildDir || process.env.RZ_BUILD_DIR || path.join(__dirname, '..', '..', 'build', 'release');
  const program = path.join(buildDir, 'standin');
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'standin-launch-'));
  const portFile = path.join(dir, 'port');
  const child = spawn(program, ['--port', '0', '--port-file', portFile, ...(options.args || [])], {
    stdio: ['ignore', 'pipe', 'pipe'],
  });

  let output = '';
  const keep = (chunk) => {
    output = (output + chunk.toString()).slice(-OUTPUT_KEEP);
  };
  child.stdout.on('data', keep);
  child.stderr.on('data', keep);

  const exited = new Promise((resolve) => {
    child.once('exit', (code, signal) => resolve({ code, signal }));
    child.once('error', (error) => resolve({ error }));
  });
  const removeDir = () => fs.rmSync(dir, { recursive: true, force: true });
  // A script that forgets to stop the server does not leave it behind.
  const killOnExit = () => child.kill('SIGTERM');
  process.once('exit', killOnExit);

  const port = await new Promise((resolve, reject) => {
    const timer = setTimeout(() => finish(new Error('timed out')), START_TIMEOUT_MS);
    const poll = setInterval(() => {
      let text = '';
      try {
        text = fs.readFileSync(portFile, 'utf8');
      } catch {
        return;
      }
      const port = Number.parseInt(text, 10);
      if (port > 0) finish(null, port);
    }, 10);
    exited.then((how) => finish(new Error(how.error ? how.error.message : `exited with ${how.code ?? how.signal}`)));
    function finish(error, port) {
      clearTimeout(timer);
      clearInterval(poll);
      if (error) reject(new Error(`standin (${program}) did not start: ${error.message}\n${output}`));
      else resolve(port);
    }
  }).catch((error) => {
    child.kill('SIGKILL');
    process.removeListener('exit', killOnExit);
    removeDir();
    throw error;
  });

  // The server's pipes and the child itself keep no script alive.
  child.stdout.unref?.();
  child.stderr.unref?.();
  child.unref();

  let stopped = null;
  async function stop() {
    if (!stopped) {
      stopped = (async () => {
        // Held referenced until it has gone, so that the script waits for it.
        child.ref();
        if (child.exitCode === null && child.signalCode === null) child.kill('SIGTERM');
        await exited;
        process.removeListener('exit', killOnExit);
        removeDir();
      })();
    }
    return stopped;
  }

  return { host: '127.0.0.1', port, stop, process: child };
}

module.exports = { startStandin };
