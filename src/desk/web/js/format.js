// How the page writes the API's values: the same shapes the command line prints.

// "202612072059" (the collection time recorded in the package) as "2026-12-07 20:59".
export function created(text) {
  if (typeof text !== 'string' || !/^\d{12}$/.test(text)) return text ?? '(unknown)';
  return `${text.slice(0, 4)}-${text.slice(4, 6)}-${text.slice(6, 8)} ` +
    `${text.slice(8, 10)}:${text.slice(10, 12)}`;
}

// "2026-12-07T21:02:27Z" as "2026-12-07 21:02:27 UTC".
export function received(text) {
  if (typeof text !== 'string') return '(unknown)';
  return text.replace('T', ' ').replace(/Z$/, ' UTC');
}

// Hex bytes as pairs with spaces between them, as inspect shows the clock and EEPROM bytes.
export function hexBytes(text) {
  if (text === null || text === undefined) return '(none)';
  const digits = String(text).replace(/\s+/g, '');
  if (!/^[0-9a-fA-F]*$/.test(digits) || digits.length % 2 !== 0) return String(text);
  return digits.match(/../g)?.join(' ') ?? '';
}

export function firmware(numbers) {
  return Array.isArray(numbers) ? numbers.join('.') : '(unknown)';
}

export function count(n, one, many) {
  return `${Number(n).toLocaleString('en')} ${n === 1 ? one : many}`;
}

export function bytes(n) {
  return n === null || n === undefined ? '(none)' : count(n, 'byte', 'bytes');
}

export function hex(n, width) {
  return '0x' + Number(n).toString(16).toUpperCase().padStart(width, '0');
}

export function shortSha(sha) {
  return sha.slice(0, 12);
}

export function unit(n) {
  return n === null || n === undefined ? '(unknown)' : String(n);
}

export function verdict(item) {
  if (item.valid) return 'Valid';
  const e = item.error;
  const message = e && typeof e === 'object' ? `${e.message} [${e.kind}]` : String(e ?? '');
  return `Damaged: ${message}`;
}

// How a recorded run ended, as the desk's replay of it found: "Failed in EEPROM block 0x8013".
const kPhaseNames = {
  open: 'opening the printer', clock: 'reading the clock', version: 'reading the version',
  eeprom: 'EEPROM block', 'log-info': 'reading the log information', log: 'reading the log',
  save: 'saving the package',
};

export function replayOutcome(replay) {
  if (replay.outcome === 'saved') return 'Saved a package';
  if (!replay.phase) return 'Failed before the printer was reached';
  const phase = kPhaseNames[replay.phase] ?? replay.phase;
  return `Failed in ${phase}${replay.block ? ' ' + replay.block : ''}`;
}

// The names the diff gives its fields, as a person reads them.
const kFieldNames = {
  unit_number: 'Unit number',
  firmware_version: 'Firmware',
  clock: 'Printer clock',
  log_info: 'Log information',
  pc: 'PC line',
  customer: 'Customer',
  comment: 'Comment',
};
export function fieldName(name) {
  return kFieldNames[name] ?? name;
}

// A diff field's value as the report shows the same value (the diff gives inspect's form).
export function fieldValue(name, value) {
  if (value === null || value === undefined) return value;
  if (name === 'clock' || name === 'log_info') return hexBytes(value);
  if (name === 'firmware_version') return firmware(value);
  return String(value);
}

// How two visits' logs relate, in one sentence (the diff's log object, "before" being a).
export function logRelation(log) {
  if (!log) return 'The logs were not compared.';
  if (!log.in_a && !log.in_b) return 'Neither package holds a log.';
  if (!log.in_a) return `Only the later package holds a log (${bytes(log.length_b)}).`;
  if (!log.in_b) return `Only the earlier package holds a log (${bytes(log.length_a)}).`;
  if (log.same) return `The log is the same: ${bytes(log.length_a)}.`;
  if (log.continues) {
    return `The log continues: ${bytes(log.length_a)} before, ${bytes(log.length_b)} now; ` +
      `${bytes(log.length_b - log.length_a)} written since.`;
  }
  return `The log does not continue (cleared or overwritten): ${bytes(log.length_a)} before, ` +
    `${bytes(log.length_b)} now; the first ${bytes(log.common_prefix)} alike.`;
}
