// Validates every .glb file named on the command line with the Khronos glTF
// validator. Prints one line per file ("path errors warnings") and exits 1
// when any file has an error, 2 when the validator cannot run.
'use strict';
const fs = require('fs');
let validator;
try {
  validator = require('gltf-validator');
} catch (e) {
  console.error('gltf-validator is not installed (run npm ci in tests/js): ' + e.message);
  process.exit(2);
}

(async () => {
  let failed = false;
  for (const path of process.argv.slice(2)) {
    const report = await validator.validateBytes(new Uint8Array(fs.readFileSync(path)), {
      maxIssues: 0,
      externalResourceFunction: () => Promise.reject(new Error('no external resources')),
    });
    const { numErrors, numWarnings } = report.issues;
    console.log(`${path} ${numErrors} ${numWarnings}`);
    if (numErrors > 0) {
      failed = true;
      for (const m of report.issues.messages.filter((m) => m.severity === 0).slice(0, 5))
        console.log(`  ${m.code} ${m.pointer || ''} ${m.message}`);
    }
  }
  process.exit(failed ? 1 : 0);
})().catch((e) => {
  console.error(e.message);
  process.exit(2);
});
