// A package's report: what inspect says of it (verdict, unit, firmware, clock, texts, log,
// EEPROM blocks, digest) and what the desk knows (received, ticket, technician), with the
// original file to download.
import {h, facts, table, fieldText, errorBox} from './dom.js';
import {api, request} from './app.js';
import * as format from './format.js';

export async function render([sha]) {
  const p = await api(`packages/${encodeURIComponent(sha)}`);
  const texts = p.texts ?? {};
  const problem = h('div', {'aria-live': 'polite'});
  const download = h('button', {type: 'button', onclick: () => save(p, download, problem)},
    `Download original (${format.bytes(p.package_size)})`);
  const unitLink = p.unit_number === null || p.unit_number === undefined ? '(unknown)' :
    h('a', {href: `#/unit/${p.unit_number}`}, `${p.unit_number} (timeline)`);
  return [
    h('h1', {}, `Package ${format.shortSha(p.sha256)}`),
    h('p', {className: p.valid ? 'verdict valid' : 'verdict damaged'}, format.verdict(p)),
    facts([
      ['Unit', unitLink],
      ['Firmware', format.firmware(p.firmware_version)],
      ['Printer clock', h('span', {className: 'hex'}, format.hexBytes(p.clock))],
      ['Collected', format.created(p.container?.created)],
      ['Customer', fieldText(texts.customer)],
      ['Comment', fieldText(texts.comment)],
      ['PC line', fieldText(texts.pc)],
      ['Log', format.bytes(p.log_length)],
      ['Log information', h('span', {className: 'hex'}, format.hexBytes(p.log_info))],
      ['EEPROM blocks', p.eeprom ? String(p.eeprom.length) : '(none)'],
      ['SHA-256', h('code', {}, p.sha256)],
      ['Package size', format.bytes(p.package_size)],
      ['Received', format.received(p.received)],
      ['Ticket', fieldText(p.ticket)],
      ['Technician', fieldText(p.technician)],
    ]),
    h('div', {className: 'actions'}, download,
      h('a', {href: `#/diff?a=${p.sha256}`}, 'Compare with another package')),
    problem,
    warnings(p.warnings),
    eeprom(p.eeprom),
  ];
}

function warnings(list) {
  if (!Array.isArray(list) || list.length === 0) return null;
  return [h('h2', {}, 'Warnings'), h('ul', {}, list.map((w) =>
    h('li', {}, typeof w === 'string' ? w : w.message ?? JSON.stringify(w))))];
}

function eeprom(blocks) {
  if (!Array.isArray(blocks) || blocks.length === 0) return null;
  return [h('h2', {}, 'EEPROM'),
    table('EEPROM blocks', ['Block', 'ID', 'Data', 'Second field', 'Checksum'], blocks.map((b) => h('tr', {},
      h('th', {scope: 'row'}, b.tag),
      h('td', {className: 'mono'}, format.hex(b.block_id, 4)),
      h('td', {}, format.bytes(b.data_size)),
      h('td', {}, String(b.second_field)),
      h('td', {className: 'mono'}, format.hex(b.checksum, 8)))))];
}

// The original bytes need the token, so they are fetched and handed to the browser as a file.
async function save(p, button, problem) {
  button.disabled = true;
  problem.replaceChildren();
  try {
    const blob = await (await request(`packages/${p.sha256}/original`)).blob();
    const url = URL.createObjectURL(blob);
    const link = h('a', {href: url, download: `${p.sha256}.zlg`});
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(url), 60000);
  } catch (e) {
    problem.replaceChildren(errorBox(`The download failed: ${e.message}`));
  } finally {
    button.disabled = false;
    button.focus();
  }
}
