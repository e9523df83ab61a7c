'use strict';
// The driver: the native module that `npm install` builds into build/release.
const path = require('node:path');

const modulePath = path.join(__dirname, 'build', 'release', 'rizezova.node');
try {
  module.exports = require(modulePath);
} catch (error) {
  if (error.code !== 'MODULE_NOT_FOUND') throw error;
  throw new Error(
    `rizezova: the native module was not built (${modulePath} is missing). ` +
      'Build it with `npm rebuild rizezova` (it needs a C++ compiler, CMake and Node.js\'s headers).',
    { cause: error },
  );
}
