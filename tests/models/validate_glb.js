// node validate_glb.js <validator module folder> <file.glb>...
// Runs the Khronos glTF validator on each file; prints every error and warning
// with its pointer, a count per file, and exits 1 if any file has an error.
'use strict';
const fs = require('fs');
const path = require('path');
let validator;
try {
    validator = require(process.argv[2]);
} catch (e) {
    console.log(`no glTF validator at ${process.argv[2]}: scripts/install-deps.sh installs it`);
    process.exit(1);
}

async function main() {
    let failed = false;
    for (const file of process.argv.slice(3)) {
        const report = await validator.validateBytes(new Uint8Array(fs.readFileSync(file)), {
            uri: path.basename(file),
            maxIssues: 0,
        });
        const issues = report.issues;
        for (const m of issues.messages) {
            if (m.severity <= 1) {
                const kind = m.severity === 0 ? 'error' : 'warning';
                console.log(`${path.basename(file)}: ${kind} ${m.code} at ${m.pointer || m.offset}: ${m.message}`);
            }
        }
        console.log(`${path.basename(file)}: ${issues.numErrors} errors, ${issues.numWarnings} warnings, ` +
                    `${issues.numInfos} infos, ${issues.numHints} hints`);
        if (issues.numErrors > 0) failed = true;
    }
    process.exit(failed ? 1 : 0);
}

main().catch((e) => {
    console.log(`validator failed: ${e}`);
    process.exit(1);
});
