// Search and list: the catalogue's packages, newest received first, filtered by unit,
// firmware, text, time received and verdict, fifty a page. The form's values live in the
// address (#/search?unit=...), so a search can be linked and Back returns to it.
import {h, table, fieldText, errorBox} from './dom.js';
import {api, go} from './app.js';
import * as format from './format.js';

const kFields = [
  // name, label, input attributes
  ['unit', 'Unit number', {inputmode: 'numeric', pattern: '[0-9]*', size: '8'}],
  ['firmware', 'Firmware', {placeholder: '2.1.0.37', size: '10'}],
  ['text', 'Customer or comment contains', {type: 'search'}],
  ['from', 'Received from', {type: 'date'}],
  ['to', 'Received to', {type: 'date'}],
];

export async function render(args, params) {
  const inputs = {};
  const controls = kFields.map(([name, label, attributes]) => {
    inputs[name] = h('input', {id: `q-${name}`, name, ...attributes});
    inputs[name].value = params.get(name) ?? '';
    return h('div', {className: name === 'text' ? 'field wide' : 'field'},
      h('label', {for: `q-${name}`}, label), inputs[name]);
  });
  inputs.verdict = h('select', {id: 'q-verdict', name: 'verdict'},
    h('option', {value: ''}, 'Any'), h('option', {value: 'valid'}, 'Valid'),
    h('option', {value: 'damaged'}, 'Damaged'));
  inputs.verdict.value = params.get('verdict') ?? '';
  const form = h('form', {className: 'query', role: 'search', 'aria-label': 'Packages',
    onsubmit: (event) => {
      event.preventDefault();
      const query = new URLSearchParams();
      for (const [name, input] of Object.entries(inputs)) {
        if (input.value.trim() !== '') query.set(name, input.value.trim());
      }
      go('#/search?' + query.toString());
    }},
  controls,
  h('div', {className: 'field'}, h('label', {for: 'q-verdict'}, 'Verdict'), inputs.verdict),
  h('button', {type: 'submit'}, 'Search'));

  const query = new URLSearchParams();
  for (const name of ['unit', 'firmware', 'text', 'from', 'to', 'verdict', 'page']) {
    if (params.get(name)) query.set(name, params.get(name));
  }
  let results;
  try {
    results = list(await api('packages?' + query.toString()), params);
  } catch (e) {
    if (e.status === 401) throw e;
    results = [errorBox(e.message)];
  }
  return [h('h1', {}, 'Packages'), form, ...results];
}

function list(answer, params) {
  const pages = Math.max(1, Math.ceil(answer.total / answer.page_size));
  const status = h('p', {className: 'status', role: 'status'},
    `${format.count(answer.total, 'package', 'packages')}, page ${answer.page} of ${pages}.`);
  if (answer.packages.length === 0) return [status];
  const rows = answer.packages.map((p) => h('tr', {},
    h('td', {}, format.received(p.received)),
    h('td', {}, p.unit_number === null ? '(unknown)' :
      h('a', {href: `#/unit/${p.unit_number}`, 'aria-label': `Unit ${p.unit_number}`},
        String(p.unit_number))),
    h('td', {}, format.firmware(p.firmware_version)),
    h('td', {}, format.created(p.created)),
    h('td', {}, fieldText(p.texts?.customer)),
    h('td', {}, fieldText(p.texts?.comment)),
    p.kind === 'recording' ?
      h('td', {className: 'verdict damaged'}, `Recording: ${format.replayOutcome(p.replay)}`) :
      h('td', {className: p.valid ? 'verdict valid' : 'verdict damaged'},
        p.valid ? 'Valid' : 'Damaged'),
    h('td', {className: 'mono'}, p.kind === 'recording' ?
      h('a', {href: `#/unit/${p.unit_number}`, 'aria-label': `Recording ${p.sha256}`},
        format.shortSha(p.sha256)) :
      h('a', {href: `#/package/${p.sha256}`, 'aria-label': `Report of package ${p.sha256}`},
        format.shortSha(p.sha256)))));
  const paging = h('nav', {className: 'paging', 'aria-label': 'Pages'},
    answer.page > 1 ? h('a', {href: pageLink(params, answer.page - 1)}, 'Previous page') : null,
    answer.page < pages ? h('a', {href: pageLink(params, answer.page + 1)}, 'Next page') : null);
  return [status,
    table('Packages, newest received first',
      ['Received', 'Unit', 'Firmware', 'Collected', 'Customer', 'Comment', 'Verdict', 'Package'],
      rows),
    paging];
}

function pageLink(params, page) {
  const next = new URLSearchParams(params);
  next.set('page', String(page));
  return '#/search?' + next.toString();
}
