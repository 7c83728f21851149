// Builds src/text/unicode_tables.inc, the upper-case tables behind corvandel::unicode, from the
// @unicode/unicode-X.Y.Z npm package, and beside it the plain data that the tests' model of the
// list format reads instead of the program's code: tests/data/upper_case.txt (each code point
// that upper-casing changes, then the code points it becomes) and tests/data/white_space.txt (the
// White_Space property). Run through tools/gen-unicode-tables.sh, which fetches the package; by
// hand: node tools/gen_unicode_tables.mjs <unpacked package dir> <output file> <test data dir>.
//
// The full upper-case mapping of a code point is its unconditional SpecialCasing entry when it has
// one, else its simple upper-case mapping, else the code point itself. Language and context rules
// (Turkish dotted i, Lithuanian, final sigma) are deliberately left out.
//
// Table layout (see upper_mapping() in src/text/case_tables.cpp):
//   kUpperStage1[cp >> kUpperBlockShift]       block number, for cp <= kUpperLastMapped
//   kUpperStage2[block * kUpperBlockSize + low] index into kUpperMappings, 0 = maps to itself
//   kUpperMappings[i] = {value, count}           count == 1: the code point cp + value;
//                                                count >= 2: kUpperExpansions[value ...]

import { readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';

const BLOCK_SHIFT = 7;
const BLOCK_SIZE = 1 << BLOCK_SHIFT;
const MAX_EXPANSION = 3;

const [packageDir, outputFile, testDataDir] = process.argv.slice(2);
if (!packageDir || !outputFile || !testDataDir) {
  console.error('usage: node gen_unicode_tables.mjs <package dir> <output file> <test data dir>');
  process.exit(2);
}

// The Unicode version comes from the package name, so the wrapper script is the one place that
// names it.
const packageJson = JSON.parse(readFileSync(join(packageDir, 'package.json'), 'utf8'));
const versionMatch = /^@unicode\/unicode-(\d+\.\d+\.\d+)$/.exec(packageJson.name);
if (!versionMatch) throw new Error(`unexpected package ${packageJson.name}`);
const unicodeVersion = versionMatch[1];

async function loadMap(relativePath) {
  const url = pathToFileURL(join(packageDir, relativePath, 'code-points.mjs'));
  return (await import(url.href)).default;
}

// The package stores expansions as arrays of code points; accept strings too, in case a release
// switches to them.
function toCodePoints(value) {
  if (typeof value === 'number') return [value];
  if (typeof value === 'string') return [...value].map((c) => c.codePointAt(0));
  if (Array.isArray(value)) return value.map((c) => (typeof c === 'number' ? c : c.codePointAt(0)));
  throw new Error(`unexpected mapping value ${JSON.stringify(value)}`);
}

// code point -> array of code points, only for code points that do not map to themselves.
function fullUpperMapping(simple, special) {
  const full = new Map();
  for (const [cp, upper] of simple) full.set(cp, [upper]);
  for (const [cp, upper] of special) full.set(cp, toCodePoints(upper));
  for (const [cp, upper] of full) {
    if (upper.length === 1 && upper[0] === cp) full.delete(cp);
    if (upper.length === 0 || upper.length > MAX_EXPANSION) {
      throw new Error(`U+${hex(cp)} maps to ${upper.length} code points`);
    }
  }
  return full;
}

function hex(cp) {
  return cp.toString(16).toUpperCase().padStart(4, '0');
}

// Single code points become deltas, which repeat across whole alphabets; expansions go to a
// shared array. Identical mappings share one entry so that stage 2 fits in a byte.
function buildMappings(full) {
  const mappings = [{ value: 0, count: 0 }];
  const expansions = [];
  const indexOfKey = new Map();
  const indexOfCodePoint = new Map();
  for (const cp of [...full.keys()].sort((a, b) => a - b)) {
    const upper = full.get(cp);
    const key = upper.length === 1 ? `d${upper[0] - cp}` : `e${upper.join(',')}`;
    if (!indexOfKey.has(key)) {
      if (upper.length === 1) {
        mappings.push({ value: upper[0] - cp, count: 1 });
      } else {
        mappings.push({ value: expansions.length, count: upper.length });
        expansions.push(...upper);
      }
      indexOfKey.set(key, mappings.length - 1);
    }
    indexOfCodePoint.set(cp, indexOfKey.get(key));
  }
  if (mappings.length > 256) throw new Error(`${mappings.length} mappings do not fit in a byte`);
  return { mappings, expansions, indexOfCodePoint };
}

// Splits the code point range into blocks and keeps each distinct block once; block 0 is the
// all-identity block.
function buildStages(indexOfCodePoint, lastMapped) {
  const blockCount = (lastMapped >> BLOCK_SHIFT) + 1;
  const stage1 = [];
  const stage2 = new Array(BLOCK_SIZE).fill(0);
  const blockOfKey = new Map([[stage2.join(','), 0]]);
  for (let block = 0; block < blockCount; ++block) {
    const entries = [];
    for (let low = 0; low < BLOCK_SIZE; ++low) {
      entries.push(indexOfCodePoint.get((block << BLOCK_SHIFT) + low) ?? 0);
    }
    const key = entries.join(',');
    if (!blockOfKey.has(key)) {
      blockOfKey.set(key, blockOfKey.size);
      stage2.push(...entries);
    }
    stage1.push(blockOfKey.get(key));
  }
  if (blockOfKey.size > 256) throw new Error(`${blockOfKey.size} blocks do not fit in a byte`);
  return { stage1, stage2 };
}

// Reads every code point back through the tables, the way the C++ lookup does.
function verify(full, tables, lastMapped) {
  const { stage1, stage2, mappings, expansions } = tables;
  for (let cp = 0; cp <= 0x10ffff; ++cp) {
    let upper = [cp];
    if (cp <= lastMapped) {
      const m = mappings[stage2[stage1[cp >> BLOCK_SHIFT] * BLOCK_SIZE + (cp & (BLOCK_SIZE - 1))]];
      if (m.count === 1) upper = [cp + m.value];
      if (m.count > 1) upper = expansions.slice(m.value, m.value + m.count);
    }
    const expected = full.get(cp) ?? [cp];
    if (upper.join(',') !== expected.join(',')) throw new Error(`table mismatch at U+${hex(cp)}`);
  }
}

function formatRows(values, perRow, format) {
  const rows = [];
  for (let i = 0; i < values.length; i += perRow) {
    rows.push('    ' + values.slice(i, i + perRow).map(format).join(', ') + ',');
  }
  return rows.join('\n');
}

function render(tables, lastMapped, mappedCount) {
  const { stage1, stage2, mappings, expansions } = tables;
  const hexLiteral = (cp) => `0x${hex(cp)}`;
  return `// Generated by tools/gen-unicode-tables.sh from Unicode ${unicodeVersion} data
// (${packageJson.name} ${packageJson.version}). Do not edit by hand: rerun the script.
//
// Default full upper-case mapping: unconditional SpecialCasing entries, else the simple
// upper-case mapping. ${mappedCount} code points change; everything above kUpperLastMapped maps
// to itself. Layout described in tools/gen_unicode_tables.mjs. Included by
// src/text/case_tables.cpp, which defines UpperMapping.

// clang-format off

constexpr char32_t kUpperLastMapped = ${hexLiteral(lastMapped)};
constexpr unsigned kUpperBlockShift = ${BLOCK_SHIFT};
constexpr unsigned kUpperBlockSize = ${BLOCK_SIZE};
constexpr unsigned kUpperMaxExpansion = ${MAX_EXPANSION};

constexpr std::uint8_t kUpperStage1[${stage1.length}] = {
${formatRows(stage1, 24, String)}
};

constexpr std::uint8_t kUpperStage2[${stage2.length}] = {
${formatRows(stage2, 32, String)}
};

constexpr UpperMapping kUpperMappings[${mappings.length}] = {
${formatRows(mappings, 8, (m) => `{${m.value}, ${m.count}}`)}
};

constexpr char32_t kUpperExpansions[${expansions.length}] = {
${formatRows(expansions, 12, hexLiteral)}
};

// clang-format on
`;
}

// The model's data: one line per code point, in hexadecimal, after a header naming its source.
function renderTestData(what, lines) {
  return `# ${what}\n# Generated by tools/gen-unicode-tables.sh from Unicode ${unicodeVersion} data ` +
    `(${packageJson.name} ${packageJson.version}).\n# Do not edit by hand: rerun the script.\n` +
    lines.join('\n') + '\n';
}

const simple = await loadMap('Simple_Case_Mapping/Uppercase');
const special = await loadMap('Special_Casing/Uppercase');
const full = fullUpperMapping(simple, special);
const lastMapped = Math.max(...full.keys());
const { mappings, expansions, indexOfCodePoint } = buildMappings(full);
const tables = { mappings, expansions, ...buildStages(indexOfCodePoint, lastMapped) };
verify(full, tables, lastMapped);
writeFileSync(outputFile, render(tables, lastMapped, full.size));
writeFileSync(join(testDataDir, 'upper_case.txt'), renderTestData(
  'Default full upper-case mapping: a code point, then the code points of its upper case.',
  [...full.keys()].sort((a, b) => a - b).map((cp) => [cp, ...full.get(cp)].map(hex).join(' '))));
const whiteSpace = await import(
  pathToFileURL(join(packageDir, 'Binary_Property/White_Space/code-points.mjs')).href);
writeFileSync(join(testDataDir, 'white_space.txt'), renderTestData(
  'The White_Space property: one code point a line.',
  [...whiteSpace.default].sort((a, b) => a - b).map(hex)));
console.log(
  `Unicode ${unicodeVersion}: ${full.size} mapped code points, ${tables.stage1.length} stage-1 ` +
    `entries, ${tables.stage2.length / BLOCK_SIZE} blocks, ${mappings.length} mappings, ` +
    `${expansions.length} expansion code points -> ${outputFile}`,
);
