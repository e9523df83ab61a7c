'use strict';
// Builds the Node module when the package is installed (npm install of a
// checkout or of the packed tarball, npm rebuild): the project's CMake build,
// the module alone, into build/release. It needs a C++ compiler, CMake, a
// build tool and Node's headers, and installs none of them: when one is
// missing it says which, and the command that installs them, and fails.
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const root = path.resolve(__dirname, '..');
const buildDir = path.join(root, 'build', 'release');
const CMAKE_AT_LEAST = [3, 20];

// What each missing tool is called, and its package under each package manager.
// Node's headers have no package here: a system's package of them may be of
// another Node version than the one running (Debian's libnode-dev is Node 18's).
const TOOLS = {
  cmake: { what: `CMake ${CMAKE_AT_LEAST.join('.')} or later`, apt: 'cmake', dnf: 'cmake', apk: 'cmake' },
  compiler: { what: 'a C++20 compiler (g++ or clang++)', apt: 'g++', dnf: 'gcc-c++', apk: 'g++' },
  make: { what: 'make (or Ninja)', apt: 'make', dnf: 'make', apk: 'make' },
  headers: { what: `the headers (node.h) of the running Node.js, ${process.version}` },
};

function onPath(name) {
  for (const dir of (process.env.PATH || '').split(path.delimiter)) {
    if (!dir) continue;
    const file = path.join(dir, name);
    try {
      fs.accessSync(file, fs.constants.X_OK);
      if (fs.statSync(file).isFile()) return file;
    } catch {
      // not here
    }
  }
  return null;
}

function cmakeVersion(cmake) {
  const out = spawnSync(cmake, ['--version'], { encoding: 'utf8' });
  const m = /version (\d+)\.(\d+)/.exec(out.stdout || '');
  return m ? [Number(m[1]), Number(m[2])] : null;
}

// npm names the prefix of the headers in npm_config_nodedir when it has one;
// otherwise they lie beside the running node, or in the system's folders.
function nodeHeaders() {
  const places = [...new Set([
    process.env.npm_config_nodedir && path.join(process.env.npm_config_nodedir, 'include', 'node'),
    path.resolve(process.execPath, '..', '..', 'include', 'node'),
    '/usr/include/node',
    '/usr/local/include/node',
  ].filter(Boolean))];
  return { found: places.find((dir) => fs.existsSync(path.join(dir, 'node.h'))), places };
}

function missingTools() {
  const missing = [];
  const notes = [];
  const cmake = onPath('cmake');
  const version = cmake && cmakeVersion(cmake);
  if (!version) {
    missing.push('cmake');
  } else if (version[0] < CMAKE_AT_LEAST[0] || (version[0] === CMAKE_AT_LEAST[0] && version[1] < CMAKE_AT_LEAST[1])) {
    missing.push('cmake');
    notes.push(`found CMake ${version.join('.')}`);
  }
  const cxx = process.env.CXX ? [process.env.CXX.split(' ')[0]] : ['c++', 'g++', 'clang++'];
  if (!cxx.some((name) => (path.isAbsolute(name) ? fs.existsSync(name) : onPath(name)))) missing.push('compiler');
  if (!onPath('ninja') && !onPath('make')) missing.push('make');
  const headers = nodeHeaders();
  if (!headers.found) {
    missing.push('headers');
    notes.push(`looked for node.h in ${headers.places.join(', ')}`);
  }
  return { missing, notes, headers: headers.found };
}

function installCommand(missing) {
  const manager = ['apt', 'dnf', 'apk'].find((name) => onPath(name === 'apt' ? 'apt-get' : name));
  if (!manager || missing.length === 0) return null;
  const packages = missing.map((tool) => TOOLS[tool][manager]).join(' ');
  const sudo = process.getuid && process.getuid() !== 0 ? 'sudo ' : '';
  if (manager === 'apt') return `${sudo}apt-get install -y ${packages}`;
  if (manager === 'dnf') return `${sudo}dnf install -y ${packages}`;
  return `${sudo}apk add ${packages}`;
}

function run(command, args) {
  const result = spawnSync(command, args, { stdio: 'inherit' });
  if (result.status !== 0) {
    console.error(`rizezova: ${command} ${args.join(' ')} failed`);
    process.exit(1);
  }
}

const { missing, notes, headers } = missingTools();
if (missing.length > 0) {
  const lines = ['rizezova: the native module cannot be built; missing:'];
  for (const tool of missing) lines.push(`  - ${TOOLS[tool].what}`);
  for (const note of notes) lines.push(`  (${note})`);
  const tools = missing.filter((tool) => tool !== 'headers');
  if (tools.length > 0) {
    const command = installCommand(tools);
    const them = tools.length < missing.length ? 'the tools' : 'them';
    lines.push(command ? `Install ${them} with:\n  ${command}` : `Install ${them} with your system's package manager.`);
  }
  if (missing.includes('headers')) {
    const url = process.release.headersUrl ||
      `https://nodejs.org/download/release/${process.version}/node-${process.version}-headers.tar.gz`;
    lines.push(`The headers must be Node.js ${process.version}'s own: a Node.js install that ships them`,
      '(include/node beside bin/node) serves when it is the one running or when npm_config_nodedir',
      `names its folder; or unpack the headers of exactly ${process.version},`,
      `  ${url}`,
      `and set npm_config_nodedir to the folder it makes (node-${process.version}).`);
  }
  lines.push('then build the module with: npm rebuild rizezova');
  console.error(lines.join('\n'));
  process.exit(1);
}

const configure = ['-S', root, '-B', buildDir, '-DCMAKE_BUILD_TYPE=Release', `-DNODE_INCLUDE_DIR=${headers}`];
// A tree keeps the generator it was made with.
if (!fs.existsSync(path.join(buildDir, 'CMakeCache.txt')) && onPath('ninja')) configure.push('-G', 'Ninja');
run('cmake', configure);
run('cmake', ['--build', buildDir, '--target', 'rizezova.node', '--parallel', String(os.availableParallelism())]);
