// Prints what mdb-reader sees in an .mdb file, in a form the tests compare line by line.
//
//   node dump.mjs FILE            one line per user table name
//   node dump.mjs FILE TABLE      "#columns" then "name<TAB>type<TAB>size" per column,
//                                 "#rowcount<TAB>N", "#rows", then one CSV line per row
//
// CSV: every value is quoted text ("" is the empty string), NULL is an empty field,
// numbers are bare. Exits 1 with the reader's message on stderr when it fails.
import MDBReader from "mdb-reader";
import { readFileSync } from "node:fs";

function csvField(v) {
  if (v === null || v === undefined) return "";
  if (typeof v === "number" || typeof v === "bigint") return String(v);
  if (typeof v === "boolean") return v ? "1" : "0";
  if (v instanceof Date) return v.toISOString();
  if (typeof v === "string") return '"' + v.replaceAll('"', '""') + '"';
  return '"' + Buffer.from(v).toString("hex") + '"';
}

const [file, table] = process.argv.slice(2);
if (!file) {
  process.stderr.write("usage: node dump.mjs FILE [TABLE]\n");
  process.exit(64);
}
try {
  const reader = new MDBReader(readFileSync(file));
  if (table === undefined) {
    for (const name of reader.getTableNames()) process.stdout.write(name + "\n");
  } else {
    const t = reader.getTable(table);
    const cols = t.getColumns();
    const out = ["#columns"];
    for (const c of cols) out.push(`${c.name}\t${c.type}\t${c.size}`);
    out.push(`#rowcount\t${t.rowCount}`, "#rows");
    for (const row of t.getData()) out.push(cols.map((c) => csvField(row[c.name])).join(","));
    process.stdout.write(out.join("\n") + "\n");
  }
} catch (e) {
  process.stderr.write(`mdb-reader: ${e && e.message ? e.message : e}\n`);
  process.exit(1);
}
