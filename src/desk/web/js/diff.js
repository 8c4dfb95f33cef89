// The diff of any two packages: every field with both sides, the EEPROM byte ranges that
// differ with both sides' bytes, and how the logs relate.
import {h, table, fieldText, errorBox} from './dom.js';
import {api, go} from './app.js';
import * as format from './format.js';

export async function render(args, params) {
  const a = params.get('a') ?? '';
  const b = params.get('b') ?? '';
  const inputA = h('input', {id: 'diff-a', name: 'a', className: 'sha', required: true,
    spellcheck: 'false', autocomplete: 'off'});
  const inputB = h('input', {id: 'diff-b', name: 'b', className: 'sha', required: true,
    spellcheck: 'false', autocomplete: 'off'});
  inputA.value = a;
  inputB.value = b;
  const form = h('form', {className: 'pair', onsubmit: (event) => {
    event.preventDefault();
    const query = new URLSearchParams({a: inputA.value.trim().toLowerCase(),
      b: inputB.value.trim().toLowerCase()});
    go('#/diff?' + query.toString());
  }},
  h('div', {className: 'field wide'},
    h('label', {for: 'diff-a'}, 'Earlier package (SHA-256)'), inputA),
  h('div', {className: 'field wide'},
    h('label', {for: 'diff-b'}, 'Later package (SHA-256)'), inputB),
  h('button', {type: 'submit'}, 'Compare'));
  const view = [h('h1', {}, 'Compare two packages'), form];
  if (!a || !b) {
    view.push(h('p', {className: 'status'},
      'Name two packages by their SHA-256 (a report or a timeline links here with them filled in).'));
    return view;
  }
  let d;
  try {
    d = await api(`diff?a=${encodeURIComponent(a)}&b=${encodeURIComponent(b)}`);
  } catch (e) {
    if (e.status === 401) throw e;
    view.push(errorBox(e.message));
    return view;
  }
  view.push(
    h('p', {className: 'status', role: 'status'},
      d.same ? 'The two packages hold the same.' : 'The two packages differ.'),
    h('ul', {},
      h('li', {}, 'Earlier: ', h('a', {href: `#/package/${d.a.sha256}`, className: 'mono'},
        d.a.sha256)),
      h('li', {}, 'Later: ', h('a', {href: `#/package/${d.b.sha256}`, className: 'mono'},
        d.b.sha256))),
    h('h2', {}, 'Fields'),
    table(null, ['Field', 'Earlier', 'Later', 'Changed'], d.fields.map((f) =>
      h('tr', {},
        h('th', {scope: 'row'}, format.fieldName(f.name)),
        h('td', {className: f.changed ? 'before' : ''}, fieldText(format.fieldValue(f.name, f.a))),
        h('td', {className: f.changed ? 'after' : ''}, fieldText(format.fieldValue(f.name, f.b))),
        h('td', {}, f.changed ? 'changed' : 'same')))),
    h('h2', {}, 'EEPROM'),
    ...eepromChanges(d.eeprom, 'Earlier', 'Later'),
    h('h2', {}, 'Log'),
    h('p', {}, format.logRelation(d.log)));
  return view;
}

// The EEPROM blocks that differ, each with its byte ranges (offset into the block's data and
// both sides' bytes); shared with the timeline.
export function eepromChanges(blocks, nameA, nameB) {
  const changed = (blocks ?? []).filter((b) => b.changed);
  const out = [];
  if (changed.length === 0) {
    out.push(h('p', {}, `All ${format.count((blocks ?? []).length, 'EEPROM block', 'EEPROM blocks')} the same.`));
    return out;
  }
  for (const b of changed) {
    out.push(h('p', {}, `${b.tag} (${format.hex(b.block_id, 4)}): ${blockSummary(b)}`));
    if (b.ranges.length > 0) {
      out.push(table(`${b.tag} byte ranges that differ`, ['Offset', 'Length', nameA, nameB],
        b.ranges.map((r) => h('tr', {},
          h('td', {}, String(r.offset)),
          h('td', {}, format.bytes(r.length)),
          h('td', {className: 'hex before'}, format.hexBytes(r.a)),
          h('td', {className: 'hex after'}, format.hexBytes(r.b))))));
    }
    if (b.ranges_left_out > 0) {
      out.push(h('p', {}, `${format.count(b.ranges_left_out, 'more range', 'more ranges')} not shown.`));
    }
  }
  const same = blocks.length - changed.length;
  out.push(h('p', {}, `${same} of ${format.count(blocks.length, 'block', 'blocks')} the same.`));
  return out;
}

function blockSummary(b) {
  if (!b.in_a) return 'only in the later package';
  if (!b.in_b) return 'only in the earlier package';
  const notes = [];
  if (b.size_a !== b.size_b) notes.push(`size ${b.size_a} → ${b.size_b} bytes`);
  if (b.second_a !== b.second_b) notes.push(`second field ${b.second_a} → ${b.second_b}`);
  notes.push(`${format.count(b.bytes_changed, 'byte differs', 'bytes differ')}`);
  return notes.join('; ');
}
