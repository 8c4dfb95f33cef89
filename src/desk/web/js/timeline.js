// A unit's timeline: its visits in the order they were collected, each with what changed
// since the visit before (fields, EEPROM blocks, the log), from the diffs the desk stored when
// the package arrived.
import {h, facts, table, fieldText} from './dom.js';
import {api} from './app.js';
import * as format from './format.js';
import {eepromChanges} from './diff.js';

export async function render([unit]) {
  const history = await api(`units/${encodeURIComponent(unit)}/history`);
  const visits = history.visits;
  const number = new Map(visits.map((v, i) => [v.sha256, i + 1]));
  return [
    h('h1', {}, `Unit ${history.unit_number}`),
    h('p', {className: 'status'},
      `${format.count(visits.length, 'visit', 'visits')}, in the order they were collected.`),
    h('ol', {className: 'timeline'}, visits.map((v, i) => visit(v, i + 1, number))),
  ];
}

function visit(v, n, number) {
  if (v.kind === 'recording') return recording(v, n);
  const id = `visit-${n}`;
  return h('li', {className: v.valid ? '' : 'damaged', 'aria-labelledby': id},
    h('h2', {id}, `Visit ${n}: collected ${format.created(v.created)}`),
    facts([
      ['Verdict', h('span', {className: v.valid ? 'verdict valid' : 'verdict damaged'},
        format.verdict(v))],
      ['Customer', fieldText(v.texts?.customer)],
      ['Comment', fieldText(v.texts?.comment)],
      ['Firmware', format.firmware(v.firmware_version)],
      ['Printer clock', h('span', {className: 'hex'}, format.hexBytes(v.clock))],
      ['Log', format.bytes(v.log_length)],
      ['Received', format.received(v.received)],
    ]),
    h('p', {}, h('a', {href: `#/package/${v.sha256}`}, `Report of visit ${n}`)),
    changes(v, n, number));
}

// A recorded run of the wizard or of collect --record: what the desk's replay of it showed,
// box by box, and the phase it stopped in.
function recording(v, n) {
  const id = `visit-${n}`;
  const replay = v.replay ?? {};
  const failed = replay.outcome !== 'saved';
  return h('li', {className: failed ? 'damaged' : '', 'aria-labelledby': id},
    h('h2', {id}, `Visit ${n}: ${failed ? 'failed run' : 'run'} recorded ` +
      `${format.created(v.created)}`),
    facts([
      ['Outcome', h('span', {className: failed ? 'verdict damaged' : 'verdict valid'},
        format.replayOutcome(replay))],
      ['Unit', replay.unit_number === null ? 'not read: listed under unit 0' :
        String(replay.unit_number)],
      ['Printer clock', replay.clock === null ? '(not read)' :
        h('span', {className: 'hex'}, format.hexBytes(replay.clock))],
      ['Received', format.received(v.received)],
    ]),
    h('h3', {}, `Messages of visit ${n}`),
    replay.messages?.length ?
      h('ol', {className: 'messages', 'aria-label': `Messages of visit ${n}`},
        replay.messages.map((m) => h('li', {className: 'message'}, m))) :
      h('p', {}, 'The run showed no message.'));
}

function changes(v, n, number) {
  if (!v.valid) {
    return h('p', {}, 'A damaged package is kept as evidence but cannot be compared.');
  }
  if (!v.previous || !v.diff) return h('p', {}, 'The first readable visit on record.');
  const before = number.get(v.previous);
  const d = v.diff;
  const fields = d.fields.filter((f) => f.changed);
  const section = [h('h3', {}, `What changed since visit ${before}`)];
  if (d.same) section.push(h('p', {}, 'Nothing: the two packages hold the same.'));
  section.push(fields.length === 0 ? h('p', {}, 'No field changed.') :
    table(`Fields changed since visit ${before}`, ['Field', `Visit ${before}`, `Visit ${n}`],
      fields.map((f) => h('tr', {},
        h('th', {scope: 'row'}, format.fieldName(f.name)),
        h('td', {className: 'before'}, fieldText(format.fieldValue(f.name, f.a))),
        h('td', {className: 'after'}, fieldText(format.fieldValue(f.name, f.b)))))));
  section.push(...eepromChanges(d.eeprom, `Visit ${before}`, `Visit ${n}`));
  section.push(h('p', {}, format.logRelation(d.log)));
  section.push(h('p', {}, h('a', {href: `#/diff?a=${v.previous}&b=${v.sha256}`},
    `Compare visit ${before} with visit ${n} in full`)));
  return section;
}
