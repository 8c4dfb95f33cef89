// The desk's web page in a real browser: Debian's chromium driven by playwright-core, against
// the real trawler-desk on 127.0.0.1 with a fresh data folder and packages collected by the
// real trawler-cli from emulated printers. Each test acts as a person: labels, roles, keyboard.
import {test, before, after} from 'node:test';
import assert from 'node:assert/strict';
import {spawn, spawnSync, execFileSync} from 'node:child_process';
import {createHash} from 'node:crypto';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {chromium} from 'playwright-core';

const root = path.resolve(import.meta.dirname, '../../..');
const deskExe = process.env.TRAWLER_DESK ?? path.join(root, 'build/linux/src/desk/trawler-desk');
const cliExe = process.env.TRAWLER_CLI ?? path.join(root, 'build/linux/src/cli/trawler-cli');
const browserExe = process.env.TRAWLER_CHROMIUM ?? '/usr/bin/chromium';
const screenshots = path.join(root, 'docs/screenshots');

const kHostile = '<img src=x onerror=alert(1)>';
const kUnit = 5150;

let scratch;
let desk;
let base;
let tokens = {};
let browser;
let page;
const dialogs = [];
// One package per name: its file and SHA-256.
const packages = {};

const sha256 = (bytes) => createHash('sha256').update(bytes).digest('hex');

// The unit's three visits: the clock moves on, one EEPROM byte changes each time, the log
// grows and then is cleared and written anew.
const kVisits = [
  {clock: '20 26 01 12 09 15 00 00', b002: '00112233445566778899', log: [20000, 1],
   comment: 'fuser noise'},
  {clock: '20 26 03 02 14 40 00 00', b002: '001122aa445566778899', log: [30000, 1],
   comment: 'fuser replaced'},
  {clock: '20 26 06 20 10 05 00 00', b002: '001122aa4455667788ff', log: [8000, 2],
   comment: 'paper jam'},
];

// A Japanese PC writes its texts in code page 932: these are the bytes of "ホテル青葉" and
// "印字がかすれる" in it, given to trawler-cli through printf so that they stay bytes.
const kJapanese = {customer: 'ホテル青葉', comment: '印字がかすれる',
  cp932: ['\\x83\\x7a\\x83\\x65\\x83\\x8b\\x90\\xc2\\x97\\x74',
    '\\x88\\xf3\\x8e\\x9a\\x82\\xaa\\x82\\xa9\\x82\\xb7\\x82\\xea\\x82\\xe9']};

// A package from an emulated printer, collected by the real trawler-cli. Texts given as
// {printf: ESCAPES} are passed as the bytes the escapes make.
function collect(name, device, customer, comment) {
  const folder = path.join(scratch, name);
  fs.mkdirSync(folder);
  const description = path.join(scratch, `${name}.json`);
  fs.writeFileSync(description, JSON.stringify(device));
  const args = ['collect', '--device', description, '--folder', folder, '--progress', 'none',
    // The emulator answers at once; the link need not wait for it as for a real printer.
    '--setting', 'WaitAfterSendMillisec=0', '--setting', 'ReadWaitMillisec=0'];
  if (typeof customer === 'string') {
    execFileSync(cliExe, [...args, '--customer', customer, '--comment', comment]);
  } else {
    const script = 'c=$1 m=$2; shift 2; ' +
      'exec "$0" "$@" --customer "$(printf "$c")" --comment "$(printf "$m")"';
    execFileSync('bash', ['-c', script, cliExe, customer.printf, comment.printf, ...args]);
  }
  const [file] = fs.readdirSync(folder).filter((f) => f.endsWith('.zlg'));
  return path.join(folder, file);
}

// A failing run recorded by collect --record, and the boxes collect --device prints replaying it.
function recordFailingRun(name, device) {
  const folder = path.join(scratch, name);
  fs.mkdirSync(folder);
  const description = path.join(scratch, `${name}.json`);
  fs.writeFileSync(description, JSON.stringify(device));
  const recording = path.join(scratch, `${name}.ztr`);
  const fast = ['--setting', 'WaitAfterSendMillisec=0', '--setting', 'ReadWaitMillisec=0'];
  spawnSync(cliExe, ['collect', '--device', description, '--folder', folder, '--progress', 'none',
    '--record', recording, ...fast]);
  const replay = spawnSync(cliExe, ['collect', '--device', recording, '--folder', folder,
    '--progress', 'none'], {encoding: 'utf8'});
  assert.equal(replay.status, 1, 'the recorded run fails again when replayed');
  return {file: recording, printed: replay.stderr};
}

function addToken(role, name, ...rights) {
  return execFileSync(deskExe, ['token', 'add', '--data', path.join(scratch, 'data'),
    '--role', role, ...rights, name]).toString().trim();
}

// Starts trawler-desk on a free loopback port; resolves with its address.
function startDesk() {
  desk = spawn(deskExe, ['serve', '--data', path.join(scratch, 'data'),
    '--listen', '127.0.0.1:0'], {stdio: ['ignore', 'pipe', 'inherit']});
  return new Promise((resolve, reject) => {
    let out = '';
    const timer = setTimeout(() => reject(new Error(`trawler-desk did not start: ${out}`)), 30000);
    desk.on('exit', (code) => reject(new Error(`trawler-desk ended (${code}): ${out}`)));
    desk.stdout.on('data', (chunk) => {
      out += chunk;
      const m = /listening on (http:\/\/127\.0\.0\.1:\d+)/.exec(out);
      if (m) {
        clearTimeout(timer);
        resolve(m[1]);
      }
    });
  });
}

async function upload(file, kind = 'packages') {
  const bytes = fs.readFileSync(file);
  const digest = sha256(bytes);
  const response = await fetch(`${base}/api/v1/${kind}/${digest}`, {
    method: 'PUT', body: bytes, headers: {Authorization: `Bearer ${tokens.upload}`}});
  assert.equal(response.status, 201, `upload of ${file}: ${await response.text()}`);
  return {file, sha256: digest, bytes};
}

// Saves the view as docs/screenshots/desk-VIEW.png, after checking that nothing on it is a
// value the page failed to write out.
async function shoot(view) {
  const text = await page.locator('main').innerText();
  assert.doesNotMatch(text, /\[object |undefined|NaN|\bnull\b/, `the ${view} view`);
  fs.mkdirSync(screenshots, {recursive: true});
  await page.screenshot({path: path.join(screenshots, `desk-${view}.png`), fullPage: true});
}

async function newPage(options = {}) {
  const c = await browser.newContext({acceptDownloads: true, ...options});
  const p = await c.newPage();
  p.setDefaultTimeout(15000);
  p.on('dialog', (dialog) => {
    dialogs.push(dialog.message());
    dialog.dismiss().catch(() => {});
  });
  // Any <img> that appears in the page is noted: the page itself has none, so one would have
  // been made from a package's text.
  await p.addInitScript(() => {
    window.imagesSeen = 0;
    new MutationObserver((records) => {
      for (const r of records) {
        for (const n of r.addedNodes) {
          if (n.nodeType === 1 && (n.tagName === 'IMG' || n.querySelector('img'))) {
            window.imagesSeen++;
          }
        }
      }
    }).observe(document, {childList: true, subtree: true});
  });
  return {context: c, page: p};
}

async function signIn(p, token) {
  await p.getByLabel('Access token').fill(token);
  await p.getByRole('button', {name: 'Sign in'}).click();
}

before(async () => {
  for (const exe of [deskExe, cliExe, browserExe]) {
    assert.ok(fs.existsSync(exe), `${exe} is missing (build the linux preset first)`);
  }
  scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'trawler-desk-browser-'));
  base = await startDesk();
  tokens = {upload: addToken('upload', 'van-3'), viewer: addToken('viewer', 'desk-pc', '--field-texts')};
  for (const [i, v] of kVisits.entries()) {
    const file = collect(`visit-${i + 1}`, {unit_number: kUnit, clock: v.clock,
      eeprom: {'0x8002': {data: v.b002}}, log: {size: v.log[0], pattern_key: v.log[1]}},
    'Hotel Aurora', v.comment);
    packages[`visit${i + 1}`] = await upload(file);
  }
  packages.hostile = await upload(collect('hostile', {unit_number: 4040, log: {size: 4000}},
    kHostile, 'printed nothing'));
  packages.japanese = await upload(collect('japanese', {unit_number: 7070, log: {size: 4000}},
    {printf: kJapanese.cp932[0]}, {printf: kJapanese.cp932[1]}));
  const good = collect('to-damage', {unit_number: 6060, log: {size: 40000}}, 'Cafe Lumen',
    'cut off in the mail');
  const damaged = path.join(scratch, 'damaged.zlg');
  const whole = fs.readFileSync(good);
  fs.writeFileSync(damaged, whole.subarray(0, Math.floor(whole.length / 2)));
  packages.damaged = await upload(damaged);
  const failing = recordFailingRun('failing', {unit_number: 9090,
    faults: [{kind: 'truncate', command: 'log_info', after: 12}]});
  packages.recording = {...await upload(failing.file, 'recordings'), printed: failing.printed};

  browser = await chromium.launch({executablePath: browserExe, args: ['--no-sandbox',
    '--disable-gpu', '--disable-quic', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', '--no-first-run']});
  ({page} = await newPage({viewport: {width: 1280, height: 900}}));
});

after(async () => {
  await browser?.close();
  if (desk && desk.exitCode === null) {
    desk.removeAllListeners('exit');
    const ended = new Promise((resolve) => desk.once('exit', resolve));
    desk.kill('SIGTERM');
    await ended;
  }
  if (scratch) fs.rmSync(scratch, {recursive: true, force: true});
});

test('signing in: an upload token is told why not, a viewer token is kept for the tab only',
  async () => {
    await page.goto(`${base}/#/unit/${kUnit}`);
    await page.getByRole('heading', {name: 'Sign in'}).waitFor();
    await shoot('login');
    await signIn(page, tokens.upload);
    await page.getByRole('alert').filter({hasText: 'may only send packages'}).waitFor();
    await signIn(page, tokens.viewer);
    // Back where the person was going, with the token in sessionStorage and not in the address.
    await page.getByRole('heading', {name: `Unit ${kUnit}`}).waitFor();
    assert.equal(await page.evaluate(() => sessionStorage.getItem('trawler-desk-token')),
      tokens.viewer);
    assert.ok(!page.url().includes(tokens.viewer));
    assert.equal(await page.evaluate(() => localStorage.length), 0);
  });

test('search finds packages by unit and by text, newest received first', async () => {
  await page.getByRole('link', {name: 'Search'}).click();
  await page.getByRole('heading', {name: 'Packages'}).waitFor();
  // Six packages and the recording of a failed run, which the list shows as one.
  await page.getByRole('status').filter({hasText: '7 packages'}).waitFor();
  await page.getByRole('link', {name: `Recording ${packages.recording.sha256}`}).waitFor();
  await shoot('search');
  const cases = [
    {fill: {'Unit number': String(kUnit)}, shas: ['visit3', 'visit2', 'visit1']},
    {fill: {'Customer or comment contains': 'JAM'}, shas: ['visit3']},
    {fill: {'Customer or comment contains': 'onerror'}, shas: ['hostile']},
    {fill: {'Verdict': 'damaged'}, shas: ['damaged']},
  ];
  for (const c of cases) {
    await page.goto(`${base}/#/`);
    for (const [label, value] of Object.entries(c.fill)) {
      const field = page.getByLabel(label, {exact: true});
      if (label === 'Verdict') await field.selectOption(value);
      else await field.fill(value);
    }
    await page.getByRole('button', {name: 'Search'}).click();
    await page.getByRole('status').filter({hasText: `${c.shas.length} package`}).waitFor();
    const links = await page.getByRole('link', {name: /^Report of package/}).all();
    const found = await Promise.all(links.map((l) => l.getAttribute('aria-label')));
    assert.deepEqual(found, c.shas.map((n) => `Report of package ${packages[n].sha256}`),
      JSON.stringify(c.fill));
  }
});

test("a unit's timeline shows what changed at each of its three visits", async () => {
  await page.goto(`${base}/#/unit/${kUnit}`);
  await page.getByRole('heading', {name: `Unit ${kUnit}`}).waitFor();
  const visits = page.getByRole('listitem').filter({has: page.getByRole('heading', {level: 2})});
  assert.equal(await visits.count(), 3);
  await shoot('timeline');
  const first = visits.nth(0);
  await first.getByText('The first readable visit on record.').waitFor();
  const second = visits.nth(1);
  const fields = second.getByRole('table', {name: 'Fields changed since visit 1'});
  assert.deepEqual(await fields.getByRole('row').allInnerTexts(), [
    'Field\tVisit 1\tVisit 2',
    'Printer clock\t20 26 01 12 09 15 00 00\t20 26 03 02 14 40 00 00',
    'Comment\tfuser noise\tfuser replaced',
  ]);
  await second.getByText('B002 (0x8002): 1 byte differs').waitFor();
  assert.deepEqual(
    await second.getByRole('table', {name: 'B002 byte ranges that differ'}).getByRole('row')
      .allInnerTexts(), ['Offset\tLength\tVisit 1\tVisit 2', '3\t1 byte\t33\tAA']);
  await second.getByText('The log continues: 20,000 bytes before, 30,000 bytes now; ' +
    '10,000 bytes written since.').waitFor();
  const third = visits.nth(2);
  assert.deepEqual(
    await third.getByRole('table', {name: 'B002 byte ranges that differ'}).getByRole('row')
      .allInnerTexts(), ['Offset\tLength\tVisit 2\tVisit 3', '9\t1 byte\t99\tFF']);
  await third.getByText(/^The log does not continue \(cleared or overwritten\): 30,000 bytes before, 8,000 bytes now/).waitFor();
});

test("a recorded failing run is in its unit's timeline with the boxes it showed", async () => {
  await page.goto(`${base}/#/unit/9090`);
  await page.getByRole('heading', {name: 'Unit 9090'}).waitFor();
  const visit = page.getByRole('listitem').filter({
    has: page.getByRole('heading', {level: 2, name: /^Visit 1: failed run recorded /})});
  await visit.getByText('Failed in reading the log information').waitFor();
  const messages = await visit.getByRole('list', {name: 'Messages of visit 1'})
    .getByRole('listitem').allInnerTexts();
  assert.equal(messages.map((m) => m + '\n').join(''), packages.recording.printed);
  await shoot('timeline-recording');
});

test('the diff view shows each changed EEPROM range with both sides, and why a damaged ' +
  'package cannot be compared', async () => {
  await page.goto(`${base}/#/package/${packages.visit1.sha256}`);
  await page.getByRole('link', {name: 'Compare with another package'}).click();
  assert.equal(await page.getByLabel('Earlier package (SHA-256)').inputValue(),
    packages.visit1.sha256);
  await page.getByLabel('Later package (SHA-256)').fill(packages.visit3.sha256);
  await page.getByRole('button', {name: 'Compare'}).click();
  await page.getByRole('status').filter({hasText: 'The two packages differ.'}).waitFor();
  assert.deepEqual(
    await page.getByRole('table', {name: 'B002 byte ranges that differ'}).getByRole('row')
      .allInnerTexts(),
    ['Offset\tLength\tEarlier\tLater', '3\t1 byte\t33\tAA', '9\t1 byte\t99\tFF']);
  await page.getByText('The log does not continue').waitFor();
  await shoot('diff');
  await page.getByLabel('Later package (SHA-256)').fill(packages.damaged.sha256);
  await page.getByLabel('Later package (SHA-256)').press('Enter');
  await page.getByRole('alert').filter({
    hasText: `package b (${packages.damaged.sha256}) cannot be compared`}).waitFor();
});

test("a hostile customer text is shown as those characters and runs nothing", async () => {
  await page.goto(`${base}/#/search?text=onerror`);
  await page.getByRole('cell', {name: kHostile, exact: true}).waitFor();
  await page.getByRole('link', {name: `Report of package ${packages.hostile.sha256}`}).click();
  await page.getByRole('heading', {name: `Package ${packages.hostile.sha256.slice(0, 12)}`})
    .waitFor();
  const customer = page.getByRole('definition').filter({hasText: kHostile});
  assert.equal(await customer.textContent(), kHostile);
  const terms = await page.getByRole('term').allInnerTexts();
  const values = await page.getByRole('definition').allInnerTexts();
  const report = Object.fromEntries(terms.map((t, i) => [t, values[i]]));
  for (const [term, value] of [['Unit', '4040 (timeline)'], ['Comment', 'printed nothing'],
    ['Log', '4,000 bytes'], ['SHA-256', packages.hostile.sha256],
    ['Package size', `${packages.hostile.bytes.length.toLocaleString('en')} bytes`],
    ['Ticket', '(none)']]) {
    assert.equal(report[term], value, term);
  }
  const blocks = page.getByRole('table', {name: 'EEPROM blocks'}).getByRole('row');
  assert.equal(await blocks.count(), 11);
  await shoot('report');
  assert.deepEqual(dialogs, []);
  assert.equal(await page.evaluate(() => window.imagesSeen), 0);
  assert.equal(await page.locator('img').count(), 0);
});

test('download gives the original bytes as received', async () => {
  for (const name of ['visit2', 'damaged']) {
    await page.goto(`${base}/#/package/${packages[name].sha256}`);
    if (name === 'damaged') {
      // Kept as evidence: its report says what the reader found.
      await page.getByText(/^Damaged: the package ends at offset \d+ inside the compressed data \[truncated-gzip\]$/).waitFor();
    }
    const [download] = await Promise.all([
      page.waitForEvent('download'),
      page.getByRole('button', {name: /^Download original/}).click(),
    ]);
    const saved = path.join(scratch, `downloaded-${name}.zlg`);
    await download.saveAs(saved);
    assert.equal(sha256(fs.readFileSync(saved)), packages[name].sha256, name);
    assert.equal(download.suggestedFilename(), `${packages[name].sha256}.zlg`);
  }
});

test('the keyboard alone reaches a package from the search, with focus always visible',
  async () => {
    await page.goto(`${base}/#/`);
    await page.getByRole('heading', {name: 'Packages'}).waitFor();
    // Tab through the page as a person would, until the unit field has the focus.
    const tabTo = async (matches, limit = 60) => {
      for (let i = 0; i < limit; i++) {
        await page.keyboard.press('Tab');
        const focused = await page.evaluate(() => {
          const e = document.activeElement;
          const style = getComputedStyle(e);
          return {id: e.id, label: e.getAttribute('aria-label') ?? '', text: e.textContent,
            outline: style.outlineStyle !== 'none' && parseFloat(style.outlineWidth) >= 2};
        });
        assert.ok(focused.outline, `no visible focus on ${JSON.stringify(focused)}`);
        if (matches(focused)) return;
      }
      assert.fail('Tab never reached the element');
    };
    await tabTo((f) => f.id === 'q-unit');
    await page.keyboard.type(String(kUnit));
    await page.keyboard.press('Enter');
    await page.getByRole('status').filter({hasText: '3 packages'}).waitFor();
    await tabTo((f) => f.label === `Report of package ${packages.visit3.sha256}`);
    await page.keyboard.press('Enter');
    await page.getByRole('heading', {name: `Package ${packages.visit3.sha256.slice(0, 12)}`})
      .waitFor();
    // Back returns to the same search.
    await page.goBack();
    await page.getByRole('status').filter({hasText: '3 packages'}).waitFor();
  });

test('at 200 % zoom every view wraps its texts instead of cutting them', async () => {
  const zoomed = await newPage({viewport: {width: 640, height: 900}, deviceScaleFactor: 2});
  try {
    await zoomed.page.goto(`${base}/#/login`);
    await signIn(zoomed.page, tokens.viewer);
    await zoomed.page.getByRole('heading', {name: 'Packages'}).waitFor();
    const views = [
      {hash: '#/', heading: 'Packages', texts: [kHostile, kJapanese.customer]},
      {hash: `#/unit/${kUnit}`, heading: `Unit ${kUnit}`, texts: ['fuser replaced']},
      {hash: `#/package/${packages.hostile.sha256}`, texts: [kHostile, 'printed nothing',
        packages.hostile.sha256]},
      {hash: `#/package/${packages.japanese.sha256}`, texts: [kJapanese.customer,
        kJapanese.comment]},
      {hash: `#/diff?a=${packages.visit1.sha256}&b=${packages.visit2.sha256}`,
        heading: 'Compare two packages', texts: [packages.visit2.sha256]},
    ];
    for (const v of views) {
      await zoomed.page.goto(`${base}/${v.hash}`);
      const sha = /package\/(\w{12})/.exec(v.hash);
      await zoomed.page.getByRole('heading', {name: v.heading ?? `Package ${sha[1]}`}).waitFor();
      for (const text of v.texts) {
        assert.ok(await zoomed.page.getByText(text, {exact: true}).first().isVisible(),
          `${v.hash}: ${text}`);
      }
      // The page never scrolls sideways, and no text outside a table runs past its box
      // (a wide table scrolls inside its own).
      const cut = await zoomed.page.evaluate(() => {
        const found = [];
        if (document.documentElement.scrollWidth > window.innerWidth) found.push('the page');
        for (const e of document.querySelectorAll('main :is(dt, dd, h1, h2, h3, p, li, label)')) {
          const box = e.getBoundingClientRect();
          if (e.scrollWidth > e.clientWidth + 1 || box.right > window.innerWidth) {
            found.push(e.textContent.slice(0, 80));
          }
        }
        return found;
      });
      assert.deepEqual(cut, [], v.hash);
    }
  } finally {
    await zoomed.context.close();
  }
});

test('the page comes from the desk alone, with headers that keep data from becoming script',
  async () => {
    const cases = [
      {path: '/', status: 200, type: 'text/html; charset=utf-8'},
      {path: '/js/app.js', status: 200, type: 'text/javascript; charset=utf-8'},
      {path: '/style.css', status: 200, type: 'text/css; charset=utf-8'},
      {path: '/js/missing.js', status: 404, type: 'text/plain; charset=utf-8'},
      {path: '/index.html/..%2f..%2fcatalogue.db', status: 404, type: 'text/plain; charset=utf-8'},
    ];
    for (const c of cases) {
      const response = await fetch(base + c.path);
      assert.equal(response.status, c.status, c.path);
      assert.equal(response.headers.get('content-type'), c.type, c.path);
      assert.equal(response.headers.get('x-content-type-options'), 'nosniff', c.path);
      const policy = response.headers.get('content-security-policy');
      assert.match(policy, /default-src 'self'; script-src 'self'; style-src 'self'/, c.path);
      assert.doesNotMatch(policy, /unsafe|\*|http/, c.path);
    }
    // The API keeps its own answers beside the page.
    const api = await fetch(`${base}/api/v1/nothing-here`);
    assert.equal(api.status, 404);
    assert.match((await api.json()).error, /no such resource/);
  });

test('a token revoked meanwhile brings the sign-in back, then the view the person was on',
  async () => {
    execFileSync(deskExe, ['token', 'revoke', '--data', path.join(scratch, 'data'), 'desk-pc']);
    await page.goto(`${base}/#/unit/${kUnit}`);
    await page.getByRole('alert').filter({hasText: 'the token is not valid'}).waitFor();
    assert.equal(await page.evaluate(() => sessionStorage.getItem('trawler-desk-token')), null);
    await signIn(page, addToken('viewer', 'desk-pc-2', '--field-texts'));
    await page.getByRole('heading', {name: `Unit ${kUnit}`}).waitFor();
  });
