// Checks the corpus against the schemas: a body the host accepts is valid under the schema of its
// kind and invalid under the others listed; a body the host refuses is invalid under every schema
// listed, unless it names the blind spot (something no JSON Schema can say) that lets it through,
// and then it must really pass, so that a stale excuse does not hide a schema that became stricter.
// usage: node validate.mjs SCHEMA-DIR CORPUS-FILE
import { readFileSync, readdirSync } from "node:fs";
import { join } from "node:path";
import Ajv2020 from "ajv/dist/2020.js";

const [schemaDir, corpusFile] = process.argv.slice(2);
const ajv = new Ajv2020({ strict: true, allErrors: true });
const validators = new Map();
for (const file of readdirSync(schemaDir).filter((name) => name.endsWith(".schema.json"))) {
  const schema = JSON.parse(readFileSync(join(schemaDir, file), "utf8"));
  validators.set(file.replace(/\.schema\.json$/, ""), ajv.compile(schema));
}

const failures = [];
let checked = 0;
for (const line of readFileSync(corpusFile, "utf8").split("\n").filter(Boolean)) {
  const entry = JSON.parse(line);
  const text = Buffer.from(entry.body).toString("utf8");
  let message;
  let parsed = true;
  try {
    message = JSON.parse(text);
  } catch {
    parsed = false;
  }
  const verdicts = entry.schemas.map((name) => {
    const validate = validators.get(name);
    if (!validate) throw new Error(`${entry.name}: no schema ${name}`);
    return [name, parsed && validate(message)];
  });
  checked += 1;
  if (entry.blindSpot) {
    // The excuse must hold: the body gets past JSON parsing and a schema, or is no JSON at all.
    const passes = entry.blindSpot === "document" ? !parsed : verdicts.some(([, valid]) => valid);
    if (!passes) failures.push(`${entry.name}: refused for "${entry.blindSpot}", but the schemas refuse it too`);
    continue;
  }
  for (const [name, valid] of verdicts) {
    const expected = name === entry.validUnder;
    if (valid !== expected) {
      const errors = validators.get(name).errors ?? [];
      failures.push(`${entry.name}: ${expected ? "accepted by the host but invalid" : "refused by the host but valid"} under ${name}` +
        (expected && parsed ? ` (${ajv.errorsText(errors)})` : "") + `\n  ${text.slice(0, 200)}`);
    }
  }
}

if (failures.length > 0) {
  console.error(failures.join("\n"));
  console.error(`schema test: ${failures.length} of ${checked} messages disagree with the host`);
  process.exit(1);
}
console.log(`schema test: ${checked} messages, every schema agrees with the host`);
