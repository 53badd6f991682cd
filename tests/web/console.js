"use strict";
// Runs the page's program under node with this process's standard input and
// output, as a console runs it with piped input: each read takes what has
// arrived so far, and input ends when the pipe does. Arguments after the
// module are ignored, as the program ignores its own.
// usage: node console.js pathloss.js [ARGUMENT...]
const path = require("path");

const chunks = process.stdin[Symbol.asyncIterator]();
require(path.resolve(process.argv[2]))({
  async readInput() {
    const chunk = await chunks.next();
    return chunk.done ? new Uint8Array(0) : chunk.value;
  },
  writeOutput(bytes) { process.stdout.write(bytes); },
  // The program may end before its input does; node must not wait for it.
  runEnded() { process.stdin.destroy(); },
});
