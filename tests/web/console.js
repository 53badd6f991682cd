"use strict";
// Runs the page's program under node with this process's standard input and
// output, as a console runs it with piped input: each read takes what has
// arrived so far, and input ends when the pipe does. Arguments after the
// module are ignored, as the program ignores its own.
// usage: node console.js pathloss.js [ARGUMENT...]   (pathloss.wasm beside it)
const fs = require("fs");
const path = require("path");

const chunks = process.stdin[Symbol.asyncIterator]();
const program = path.resolve(process.argv[2]);
require(program)({
  // Handed over: emscripten's own load of the module beside it would take
  // node's fetch for a browser's.
  wasmBinary: fs.readFileSync(program.replace(/\.js$/, ".wasm")),
  async readInput() {
    const chunk = await chunks.next();
    return chunk.done ? new Uint8Array(0) : chunk.value;
  },
  writeOutput(bytes) { process.stdout.write(bytes); },
  // The program may end before its input does; node must not wait for it.
  runEnded() { process.stdin.destroy(); },
});
