// Prints a table of a Jet4 file as read by mdb-reader: first line the row
// count the table reports, then one line per row with each value as hex of
// its UTF-8 bytes, "-" for null, separated by TABs.
// Usage: node read_table.mjs FILE TABLE COLUMN...
import { readFileSync } from "node:fs";
import MDBReader from "mdb-reader";

const [file, tableName, ...columns] = process.argv.slice(2);
const reader = new MDBReader(readFileSync(file));
const table = reader.getTable(tableName);
const lines = [String(table.rowCount)];
for (const row of table.getData({ columns })) {
  lines.push(columns.map((c) => (row[c] === null || row[c] === undefined
    ? "-" : Buffer.from(String(row[c]), "utf8").toString("hex"))).join("\t"));
}
process.stdout.write(lines.join("\n") + "\n");
