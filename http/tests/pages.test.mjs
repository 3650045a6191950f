// The web user interface in headless Chromium, served by the built server.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { mkdirSync } from 'node:fs';
import path from 'node:path';
import { GATEWAY_STATUS, buildDir, installDoubles, launchBrowser, openSite, runAction, sampleSite, startServer } from './harness.mjs';

let server;
let browser;

// A fresh profile (empty local storage) per call; `varnkit` installs the native doubles.
async function openPage({ varnkit = true, width = 790, height = 900, scale = 1 } = {}) {
  const context = await browser.newContext({ viewport: { width, height }, deviceScaleFactor: scale });
  if (varnkit) await installDoubles(context);
  const page = await context.newPage();
  const problems = [];
  const requests = [];
  page.on('pageerror', (error) => problems.push(`page error: ${error.message}`));
  page.on('console', (message) => {
    if (message.type() === 'error' || message.type() === 'warning') problems.push(`console: ${message.text()}`);
  });
  page.on('request', (request) => requests.push(request.url()));
  page.on('response', (response) => {
    if (response.status() !== 200) problems.push(`${response.status()} for ${response.url()}`);
  });
  await page.goto(server.url);
  return { context, page, problems, requests };
}

const calls = (page) => page.evaluate(() => window.__calls);

describe('web user interface', () => {
  before(async () => {
    server = await startServer();
    browser = await launchBrowser();
  });

  after(async () => {
    await browser?.close();
    await server?.stop();
  });

  describe('in a plain browser', () => {
    test('says the actions need the varnkit window and disables them', async () => {
      const { context, page, problems, requests } = await openPage({ varnkit: false });
      try {
        const notice = page.locator('#browser-notice');
        assert.ok(await notice.isVisible());
        assert.match(await notice.textContent(), /actions need the varnkit window/);
        for (const action of ['backup', 'restore', 'firmware', 'channel', 'export']) {
          assert.ok(await page.locator(`button[data-action="${action}"]`).isDisabled(), action);
        }
        assert.ok(await page.locator('#open-backup').isDisabled());
        assert.ok(await page.locator('#site-open').isDisabled());
        assert.equal(await page.locator('#version').isVisible(), false);
        assert.equal(await page.title(), 'varnkit');
        // The address can still be typed and is still checked.
        await page.fill('#address', '300.1.1.1');
        await page.locator('#address').blur();
        assert.match(await page.locator('#address-error').textContent(), /not an IPv4 address/);
        assert.deepEqual(problems, []);
        // Used offline on site: every resource comes from the kit's own server.
        assert.ok(requests.length >= 4);
        for (const url of requests) assert.ok(url.startsWith(server.url), url);
      } finally {
        await context.close();
      }
    });
  });

  describe('in the varnkit window', () => {
    test('shows the kit version and enables the actions', async () => {
      const { context, page, problems } = await openPage();
      try {
        assert.equal(await page.locator('#version').textContent(), 'Version 1.4.0');
        assert.equal(await page.title(), 'varnkit 1.4.0');
        assert.equal(await page.locator('#browser-notice').isVisible(), false);
        for (const action of ['backup', 'restore', 'firmware', 'channel', 'export']) {
          assert.ok(await page.locator(`button[data-action="${action}"]`).isEnabled(), action);
        }
        assert.deepEqual(problems, []);
      } finally {
        await context.close();
      }
    });

    test('checks the address before any action', async () => {
      const { context, page } = await openPage();
      try {
        const error = page.locator('#address-error');
        await page.click('button[data-action="backup"]');
        assert.equal(await error.textContent(), 'Enter the gateway address.');
        assert.equal(await page.locator('#address').getAttribute('aria-invalid'), 'true');
        assert.equal(await page.evaluate(() => document.activeElement.id), 'address');

        await page.fill('#address', '192.168.1.20 & calc');
        await page.click('button[data-action="restore"]');
        assert.match(await error.textContent(), /is not an IPv4 address, an IPv6 address in brackets or a host name/);
        await page.fill('#address', 'fd00::20');
        await page.click('button[data-action="firmware"]');
        assert.equal(await error.textContent(), 'Put the IPv6 address in brackets: [fd00::20].');
        assert.deepEqual(await calls(page), []);

        // Fixing the address clears the message while typing.
        await page.fill('#address', '[fd00::20]');
        assert.ok(await error.isHidden());
        assert.equal(await page.locator('#address').getAttribute('aria-invalid'), null);
      } finally {
        await context.close();
      }
    });

    test('address forms', async () => {
      const { context, page } = await openPage();
      try {
        const check = (text) => page.evaluate((t) => window.VarnkitAddress.check(t), text);
        const valid = ['192.168.1.20', '0.0.0.0', '192.168.1.20:8080', '[fd00::20]', '[fd00::20]:8080', '[::1]',
          '[::]', '[::ffff:192.0.2.1]', '[1:2:3:4:5:6:7:8]', '[1:2:3:4:5:6:7::]', '[2001:DB8::1]:65535',
          '[fe80::1%eth0]', '[fe80::1%enp0s31f6.2]:8080', 'lumaro-hall.local', 'gw1', 'GW-1.example.com:80', 'a'.repeat(63) + '.local'];
        for (const text of valid) {
          assert.deepEqual(await check(text), { ok: true, address: text }, text);
        }
        assert.deepEqual(await check('  192.168.1.20\t'), { ok: true, address: '192.168.1.20' });

        const invalid = {
          '   ': /Enter the gateway address/,
          '192.168.1': /not an IPv4 address/,
          '192.168.1.256': /not an IPv4 address/,
          '192.168.01.2': /not an IPv4 address/,
          '123': /not an IPv4 address/,
          '192.168.1.20:0': /port must be/,
          '192.168.1.20:65536': /port must be/,
          '192.168.1.20:': /port must be/,
          '[fd00::20]:99999': /port must be/,
          ':80': /is not an IPv4/,
          '192.168.1.20:80:80': /is not an IPv4/,
          'fd00::20': /Put the IPv6 address in brackets/,
          '[fd00::20': /closing bracket/,
          '[fd00::20]8080': /is not an IPv4/,
          '[fd00::g]': /not an IPv6 address/,
          '[1:2:3:4:5:6:7:8:9]': /not an IPv6 address/,
          '[1::2::3]': /not an IPv6 address/,
          '[::1.2.3]': /not an IPv6 address/,
          '[fe80::1%]': /interface after "%"/,
          '[fe80::1%eth0;x]': /interface after "%"/,
          '[fe80::g%eth0]': /not an IPv6 address/,
          '-gw.local': /is not an IPv4/,
          'gw_1.local': /is not an IPv4/,
          'a..b': /is not an IPv4/,
          'gw.local.': /is not an IPv4/,
          'gw hall': /is not an IPv4/,
          'gw;calc': /is not an IPv4/,
          'http://192.168.1.20': /^Enter the address without "http:\/\/"\.$/,
          'HTTPS://gw.local/': /without "HTTPS:\/\/"/,
          [`${'a'.repeat(64)}.local`]: /is not an IPv4/,
          [`${'abcdefgh.'.repeat(28)}local`]: /is not an IPv4/,
        };
        for (const [text, message] of Object.entries(invalid)) {
          const result = await check(text);
          assert.equal(result.ok, false, text);
          assert.match(result.message, message, text);
        }
      } finally {
        await context.close();
      }
    });

    test('shows the outcome of each result and logs it', async () => {
      const { context, page, problems } = await openPage();
      try {
        await page.fill('#address', ' 192.168.1.20:8080 ');
        const expected = [
          ['backup', 0, 'ok', /^Done: the backup archive is in the chosen folder/],
          ['backup', -1, 'warn', /^Cancelled or not started: no folder was chosen/],
          ['backup', 1, 'error', /^Failed\. The console window shows the details/],
          ['backup', 2, 'warn', /^Not started: the console tool was missing values/],
          ['backup', -2, 'error', /^Stopped before the end: the backup is not complete\. Run it again to complete it\.$/],
          ['restore', 0, 'ok', /^Done: the configuration was restored/],
          ['restore', -1, 'warn', /^Cancelled or not started: no file was chosen/],
          ['restore', 1, 'error', /^Failed\./],
          ['restore', 2, 'warn', /^Not started:/],
          ['restore', -2, 'error', /^Stopped before the end: the gateway may be partly restored\. Run it again to complete it\.$/],
          ['firmware', 0, 'ok', /^Done: the firmware was uploaded and the upgrade started/],
          ['firmware', -1, 'warn', /^Cancelled or not started: no file was chosen/],
          ['firmware', 1, 'error', /^Failed\./],
          ['firmware', 2, 'warn', /^Not started:/],
          ['firmware', -2, 'error', /^Stopped before the end: the gateway may be partly upgraded\. Run it again to complete it\.$/],
          ['restore', -3, 'warn', /^Not started: you cancelled at the confirmation\. Nothing was written/],
          ['firmware', -3, 'warn', /^Not started: you cancelled at the confirmation/],
          ['firmware', -4, 'error', /^Refused: the firmware is for another model\. Nothing was sent/],
          ['firmware', 9009, 'error', /^Ended with the unexpected result 9009/],
          ['backup', null, 'error', /^Ended with the unexpected result null/],
          ['channel', 0, 'ok', /^Done: the channel setup was installed/],
          ['channel', -2, 'error', /^Stopped before the end: the channel may be partly set up\./],
          ['export', 0, 'ok', /^Done: the CSV file was written\.$/],
          ['export', 1, 'error', /^Failed\./],
          ['export', -2, 'error', /^Stopped before the end: the CSV file was left as it was\.$/],
          ['restore', 'throw', 'error', /^Could not start: the bridge went away/],
        ];
        for (const [action, result, kind, text] of expected) {
          const outcome = await runAction(page, action, result);
          assert.equal(outcome.kind, kind, `${action} ${result}`);
          assert.match(outcome.text, text, `${action} ${result}`);
        }

        // Each call names its own function and passes the trimmed address alone.
        const names = { backup: 'native_actionBackup', restore: 'native_actionRestore',
          firmware: 'native_actionFirmwareUpgrade', channel: 'native_actionSetupChannel', export: 'native_actionExportChannel' };
        const made = await calls(page);
        assert.deepEqual(made.map((c) => c.name), expected.map(([action]) => names[action]));
        for (const c of made) {
          const chosen = c.name === names.channel || c.name === names.export;
          assert.deepEqual(c.args, chosen ? ['192.168.1.20:8080', 1, 'gear'] : ['192.168.1.20:8080']);
        }

        const entries = page.locator('#activity li');
        assert.equal(await entries.count(), expected.length);
        assert.ok(await page.locator('#activity-empty').isHidden());
        const newest = entries.first();
        assert.equal(await newest.getAttribute('data-kind'), 'error');
        assert.equal(await newest.locator('.activity-action').textContent(), 'Restore');
        assert.equal(await newest.locator('.activity-address').textContent(), '192.168.1.20:8080');
        assert.match(await newest.locator('.activity-text').textContent(), /Could not start/);
        assert.deepEqual(problems, []);
      } finally {
        await context.close();
      }
    });

    test('the gateway card shows the status or a plain error, and an action waits for it', async () => {
      const { context, page, problems } = await openPage();
      try {
        const card = (id) => page.locator(`#card-${id}`).textContent();
        const checkWith = async (status, how) => {
          await page.evaluate((s) => { window.__status = s; }, status);
          if (how === 'button') await page.click('#check-button'); else await page.press('#address', 'Enter');
          await page.waitForFunction(() => ['ok', 'error'].includes(document.getElementById('gateway-card').dataset.state));
          return page.locator('#gateway-card').getAttribute('data-state');
        };
        await page.fill('#address', ' 192.0.2.10 ');
        assert.equal(await checkWith(JSON.stringify(GATEWAY_STATUS), 'enter'), 'ok');
        assert.deepEqual([await card('model'), await card('firmware'), await card('serial'), await card('mac')],
          ['LUMARO-2', '1.5.0', 'GW-0001', '00:11:22:33:44:55']);
        assert.match(await card('time'), /^\d\d:\d\d:\d\d$/);
        const advice = ': check the address and that the gateway is powered and on this network.';
        const errors = [
          ['{"error":"No answer from 192.0.2.10 within 15 s."}', `No answer from 192.0.2.10 within 15 s${advice}`],
          ['{"model_name":"LUMARO-1"', /^The varnkit window gave no usable answer/],
          ['reject', /^The varnkit window gave no usable answer \(gone\)/],
          ['{"firmware_version":"1.5.0"}', `The gateway at 192.0.2.10 did not report its status${advice}`],
        ];
        for (const [status, message] of errors) {
          assert.equal(await checkWith(status, 'button'), 'error', status);
          const shown = await page.locator('#card-message').textContent();
          if (typeof message === 'string') assert.equal(shown, message); else assert.match(shown, message);
          assert.ok(await page.locator('#card-fields').isHidden());
        }
        // An action asks first and does not start against a gateway that does not answer.
        await page.evaluate(() => { window.__status = '{"error":"No answer from 192.0.2.10 within 15 s."}'; });
        const outcome = await runAction(page, 'restore', 0);
        assert.deepEqual(outcome, { kind: 'error', text: `Not started: No answer from 192.0.2.10 within 15 s${advice}` });
        assert.deepEqual(await calls(page), []);
        assert.equal(await page.evaluate(() => window.__statusCalls.length), errors.length + 2);
        assert.deepEqual(problems, []);
      } finally {
        await context.close();
      }
    });

    test('channel setup offers the model channels and kinds and links the CSV formats', async () => {
      const { context, page, problems } = await openPage();
      try {
        await page.fill('#address', '192.0.2.10');
        await page.evaluate(() => { window.__status = '{"model_name":"LUMARO-2"}'; });
        await page.press('#address', 'Enter');
        await page.waitForFunction(() => document.getElementById('gateway-card').dataset.state === 'ok');
        const enabled = (id = 'channel-number') => page.evaluate((i) => [...document.querySelectorAll(`#${i} option`)]
          .filter((o) => !o.disabled).map((o) => o.value), id);
        assert.deepEqual(await enabled(), ['1', '2']);
        assert.deepEqual(await enabled('export-number'), ['1', '2']);
        await page.selectOption('#channel-number', '2');
        await page.selectOption('#channel-kind', 'inputs');
        await runAction(page, 'channel', 0);
        // A four-channel gateway offers all four; a choice beyond the model's does not run.
        await page.evaluate(() => { window.__status = '{"model_name":"LUMARO-4"}'; });
        await page.press('#address', 'Enter');
        await page.waitForFunction(() => !document.querySelector('#channel-number option[value="4"]').disabled);
        await page.selectOption('#channel-number', '4');
        await page.selectOption('#channel-kind', 'groups');
        await page.evaluate(() => { window.__status = '{"model_name":"LUMARO-1"}'; });
        assert.deepEqual(await runAction(page, 'channel', 0), { kind: 'warn', text: 'Not started: a LUMARO-1 has no channel 4.' });
        assert.deepEqual(await enabled(), ['1']);
        // The export reads the channel and kind of its own row.
        await page.selectOption('#export-kind', 'groups');
        await runAction(page, 'export', 0);
        assert.deepEqual((await calls(page)).map((c) => [c.name, ...c.args]),
          [['native_actionSetupChannel', '192.0.2.10', 2, 'inputs'], ['native_actionExportChannel', '192.0.2.10', 1, 'groups']]);

        const formats = await page.request.get(new URL(await page.getAttribute('#channel-help a', 'href'), server.url).href);
        assert.equal(formats.status(), 200);
        const text = await formats.text();
        for (const header of ['#dali-channel-csv-version: 1', '#dali-channel-groups-csv-version: 1', '#dali-channel-inputs-csv-version: 1'])
          assert.ok(text.includes(header), header);
        assert.deepEqual(problems, []);
      } finally {
        await context.close();
      }
    });

    test('a backup names its archive, every entry shows its log, and the list survives a restart', async () => {
      const { context, page, problems } = await openPage();
      try {
        await page.fill('#address', '192.0.2.10');
        // action, its result, the window's account of the run, the outcome shown (null: the plain one for the result)
        const runs = [
          ['backup', 0, { log: '20260102-030405-backup-192.0.2.10.log', archive: '/home/ann/backup_192.0.2.10_LUMARO_x.zip', result: 'done' },
            { kind: 'ok', text: 'Done: the backup archive is /home/ann/backup_192.0.2.10_LUMARO_x.zip' }],
          ['restore', 1, { log: 'gone-restore.log', archive: '', result: 'failed', warnings: [],
            summary: 'Failed: 22 configurations: 18 done, 4 refused.' },
          { kind: 'error', text: 'Failed: 22 configurations: 18 done, 4 refused. The run view shows each step.' }],
          // A partial result is never "Done", whatever the exit status; the file is named.
          ['backup', 1, { log: 'b.log', archive: '/b/x.zip', result: 'failed', warnings: ['Backup incomplete: dali2 missing (HTTP 500)'] },
            { kind: 'error', text: 'Backup incomplete: dali2 missing (HTTP 500) The archive is /b/x.zip The run view shows each step.' }],
          ['channel', 1, { log: 'c.log', result: 'warnings', warnings: [], summary: 'Finished with warnings: 1 channel: 1 done; 4 rows: 4 skipped.' },
            { kind: 'warn', text: 'Finished with warnings: 1 channel: 1 done; 4 rows: 4 skipped.' }],
          // Nothing ran for -1, -3 or -4, so the previous run's log is not offered.
          ['restore', -3, { log: 'stale.log', result: 'done' }, null],
          ['firmware', -4, { log: 'stale.log', result: 'done' }, null],
          ['backup', -1, { log: 'stale.log', archive: '/old.zip', result: 'done' }, null],
        ];
        for (const [action, result, run, shown] of runs) {
          await page.evaluate((r) => { window.__lastRun = r; }, JSON.stringify(run));
          const outcome = await runAction(page, action, result);
          if (shown) assert.deepEqual(outcome, shown);
          else assert.doesNotMatch(outcome.text, /^Done/);
        }
        assert.match(await page.locator('#backup-outcome').textContent(), /^Cancelled or not started/);
        const entries = page.locator('#activity li');
        const last = runs.length - 1;
        for (let i = 0; i < 3; i += 1) assert.equal(await entries.nth(i).locator('.activity-log').count(), 0);
        await page.reload();
        assert.equal(await entries.count(), runs.length);
        assert.equal(await entries.nth(last).locator('.activity-action').textContent(), 'Back up');
        await entries.nth(last).locator('.activity-log').click();
        await entries.nth(last - 1).locator('.activity-log').click();
        assert.deepEqual(await page.evaluate(() => window.__logsShown), [runs[0][2].log, runs[1][2].log]);
        assert.equal(await entries.nth(last - 1).locator('.activity-log').textContent(), 'Log not found');
        assert.deepEqual(problems, []);
      } finally {
        await context.close();
      }
    });

    test('opens a backup and compares it, showing every text from the tool as text', async () => {
      const { context, page, problems } = await openPage();
      try {
        const markup = '<img src=x onerror="window.__injected=1">';
        const backup = {
          source: '/home/ann/b.zip', kind: 'archive', problem: null,
          gateway: { model_name: 'LUMARO-2', firmware_version: '1.5.0', serial_number: 'GW-7', mac: '00:11' },
          configurations: [
            { name: 'systemconfig', archive_size: 3072, size: 900, record_version: null, problem: null },
            { name: 'dali2', archive_size: 9216, size: 7072, record_version: 3, problem: null, channel: 2,
              record: { problem: null, kind: 'channel', version: 3, change_count: 4, import_tag: 0,
                gear: [{ slot: 0, name: markup, short_address: 5, device_types: [6], groups: [0, 15] },
                  { slot: 3, name: 'Hall 1', short_address: null, device_types: [], groups: [] }],
                groups: [{ group: 15, name: 'Corridor' }] } },
            { name: 'cd2', archive_size: 4096, size: 2000, record_version: 3, problem: 'checksum differs', channel: 2,
              record: { problem: null, kind: 'inputs', version: 3, devices: [{ slot: 1, name: 'Door', short_address: 9,
                flags: 3, instance_count: 2, setting: 0, instances: [{ type: 1, value: 0, settings: [] }, { type: 3 }] }] } },
          ],
        };
        const rows = (selector) => page.evaluate((s) => [...document.querySelectorAll(s)]
          .map((row) => [...row.cells].map((cell) => cell.textContent)), selector);
        assert.ok(await page.locator('#compare-backup').isDisabled());
        await page.evaluate((b) => { window.__backup = b; }, JSON.stringify(backup));
        await page.click('#open-backup');
        await page.waitForFunction(() => !document.getElementById('backup-view').hidden);
        assert.equal(await page.locator('.backup-title').textContent(), '/home/ann/b.zip (archive)');
        assert.deepEqual(await page.locator('.backup-gateway dd').allTextContents(), ['LUMARO-2', '1.5.0', 'GW-7', '00:11']);
        assert.equal(await page.locator('.backup-channel h4').textContent(), 'Channel 2');
        const channel = '.backup-channel table';
        assert.deepEqual(await rows(`${channel}:nth-of-type(1) tbody tr`), [['0', markup, '5', '0, 15', '6'], ['3', 'Hall 1', '–', '–', '–']]);
        assert.deepEqual(await rows(`${channel}:nth-of-type(2) tbody tr`), [['15', 'Corridor']]);
        assert.deepEqual(await rows(`${channel}:nth-of-type(3) tbody tr`), [['1', 'Door', '9', '2: 1, 3']]);
        assert.equal(await page.locator('.backup-channel .backup-problem').textContent(), 'checksum differs');
        assert.equal(await page.locator('#backup-view img').count(), 0);

        const comparison = {
          old: '/home/ann/b.zip', new: '/home/ann/c.zip', different: true,
          gateway: [{ section: 'gateway', slot: null, field: 'firmware_version', old: '1.3.0', new: '1.5.0' }],
          configurations: [
            { name: 'dali1', state: 'changed', old_version: 1, new_version: 3, compared_as_records: true, differing_bytes: 0,
              changes: [{ section: 'gear', slot: 3, field: 'name', old: 'Hall 1', new: markup }] },
            { name: 'rlc', state: 'changed', old_version: null, new_version: null, compared_as_records: false, differing_bytes: 12, changes: [] },
            { name: 'cd4', state: 'added', old_version: null, new_version: 3, changes: [] },
            { name: 'dali2', state: 'unchanged', old_version: 3, new_version: 3, changes: [] },
          ],
        };
        await page.evaluate((c) => { window.__comparison = c; }, JSON.stringify(comparison));
        await page.click('#compare-backup');
        await page.waitForFunction(() => document.querySelector('.backup-summary'));
        assert.equal(await page.locator('.backup-summary').textContent(), 'The backups differ.');
        assert.deepEqual(await page.locator('#backup-view > .backup-changes li').allTextContents(),
          ['gateway firmware_version: 1.3.0 → 1.5.0']);
        assert.deepEqual(await rows('#backup-view table tbody tr'), [
          ['dali1', 'changed', '1 → 3', `gear 3 name: Hall 1 → ${markup}`],
          ['rlc', 'changed', '–', '12 bytes differ'],
          ['cd4', 'added', '– → 3', '–']]);
        assert.equal(await page.locator('#backup-view .backup-note').textContent(), '1 configuration unchanged.');
        assert.equal(await page.locator('#backup-view img').count(), 0);

        // A failed read says why and keeps the view; a closed dialog changes nothing.
        await page.evaluate(() => { window.__comparison = '{"error":"cannot read /home/ann/x.zip"}'; window.__backup = '{"cancelled":true}'; });
        await page.click('#compare-backup');
        await page.waitForFunction(() => document.getElementById('backup-message').dataset.kind === 'error');
        assert.equal(await page.locator('#backup-message').textContent(), 'cannot read /home/ann/x.zip');
        await page.click('#open-backup');
        await page.waitForFunction(() => document.getElementById('backup-message').hidden);
        assert.equal(await page.locator('.backup-summary').count(), 1);
        assert.deepEqual(await page.evaluate(() => window.__backupCalls), [['show', ''], ['compare', '/home/ann/b.zip', ''],
          ['compare', '/home/ann/b.zip', ''], ['show', '']]);
        assert.equal(await page.evaluate(() => window.__injected), undefined);
        assert.deepEqual(problems, []);
      } finally {
        await context.close();
      }
    });

    test('shows the running tool\'s progress while the page stays live', async () => {
      const { context, page } = await openPage();
      try {
        await page.fill('#address', '192.0.2.10');
        await page.evaluate(() => { window.__hold = true; });
        await page.click('button[data-action="restore"]');
        await page.waitForFunction(() => typeof window.__release === 'function');
        // While the dialog is open nothing runs yet.
        await page.evaluate(() => new Promise((done) => setTimeout(done, 900)));
        assert.match(await page.locator('#restore-outcome').textContent(), /^Waiting for your choice/);
        await page.evaluate(() => { window.__running = true; });
        await page.waitForFunction(() => document.getElementById('restore-outcome').textContent ===
          'Running. Follow the steps in the run view.');
        for (const progress of ['3 of 22', '21 of 22']) {
          await page.evaluate((p) => { window.__progressText = p; }, progress);
          await page.waitForFunction((p) => document.getElementById('restore-outcome').textContent ===
            `Running: ${p}. Follow the steps in the run view.`, progress);
        }
        assert.ok(await page.locator('button[data-action="backup"]').isDisabled());
        await page.evaluate(() => window.__release());
        await page.waitForFunction(() => document.getElementById('restore-outcome').dataset.kind === 'ok');
        // No progress line comes after the outcome.
        await page.evaluate(() => new Promise((done) => setTimeout(done, 900)));
        assert.match(await page.locator('#restore-outcome').textContent(), /^Done:/);
      } finally {
        await context.close();
      }
    });

    test('is busy while a call runs and usable again after it', async () => {
      const { context, page } = await openPage();
      try {
        await page.fill('#address', 'lumaro-hall.local');
        await runAction(page, 'restore', 0);
        const [call] = await calls(page);
        assert.deepEqual(call.during.disabled, [true, true, true, true, true]);
        assert.deepEqual(call.during.busyRows, ['action-restore']);
        assert.match(call.during.outcome, /^Waiting for your choice/);
        assert.equal(call.during.addressReadOnly, true);

        for (const action of ['backup', 'restore', 'firmware', 'channel', 'export']) {
          assert.ok(await page.locator(`button[data-action="${action}"]`).isEnabled(), action);
        }
        assert.equal(await page.locator('.action[aria-busy="true"]').count(), 0);
        assert.equal(await page.locator('#address').getAttribute('readonly'), null);
        assert.equal(await page.evaluate(() => document.activeElement.dataset.action), 'restore');
      } finally {
        await context.close();
      }
    });

    test('remembers the last good address between runs', async () => {
      const { context, page } = await openPage();
      try {
        await page.fill('#address', '[fd00::20]:8080');
        await runAction(page, 'backup', 0);
        await page.fill('#address', 'not an address');
        await page.locator('#address').blur();
        await page.reload();
        assert.equal(await page.inputValue('#address'), '[fd00::20]:8080');
        const second = await context.newPage();
        await second.goto(server.url);
        assert.equal(await second.inputValue('#address'), '[fd00::20]:8080');
        // A good address is kept once the field is left, even before an action runs.
        await second.fill('#address', '10.0.0.7');
        await second.locator('#address').blur();
        await second.reload();
        assert.equal(await second.inputValue('#address'), '10.0.0.7');
      } finally {
        await context.close();
      }
      const fresh = await openPage();
      try {
        assert.equal(await fresh.page.inputValue('#address'), '');
      } finally {
        await fresh.context.close();
      }
    });

    test('offers the last five addresses and meets WCAG AA contrast for footer text and the field border', async () => {
      const { context, page } = await openPage();
      try {
        for (const address of ['10.0.0.1', '10.0.0.2', '10.0.0.3', '10.0.0.1', '10.0.0.4', '10.0.0.5', '10.0.0.6']) {
          await page.fill('#address', address);
          await page.press('#address', 'Enter');
        }
        await page.reload();
        await page.press('#address', 'ArrowDown');
        assert.deepEqual(await page.locator('#recent-addresses [role="option"]').allTextContents(),
          ['10.0.0.6', '10.0.0.5', '10.0.0.4', '10.0.0.1', '10.0.0.3']);
        assert.match(await page.getAttribute('#address', 'placeholder'), /^e\.g\. /);
        const ratios = await page.evaluate(() => {
          const rgb = (text) => text.match(/[\d.]+/g).slice(0, 3).map(Number);
          const luminance = (c) => {
            const [r, g, b] = c.map((v) => { const s = v / 255; return s <= 0.03928 ? s / 12.92 : ((s + 0.055) / 1.055) ** 2.4; });
            return 0.2126 * r + 0.7152 * g + 0.0722 * b;
          };
          const ratio = (a, b) => { const [x, y] = [luminance(a), luminance(b)].sort((m, n) => n - m); return (x + 0.05) / (y + 0.05); };
          const style = (selector) => getComputedStyle(document.querySelector(selector));
          return {
            footer: ratio(rgb(style('.page-footer').color), rgb(style('html').backgroundColor)),
            border: ratio(rgb(style('#address').borderTopColor), rgb(style('.panel').backgroundColor)),
          };
        });
        assert.ok(ratios.footer >= 4.5, `footer ${ratios.footer}`);
        assert.ok(ratios.border >= 3, `border ${ratios.border}`);
      } finally {
        await context.close();
      }
    });

    test('Enter checks the address typed or picked while the recent addresses are offered', async () => {
      const { context, page } = await openPage();
      try {
        for (const address of ['10.0.0.12', '10.0.0.2']) {
          await page.fill('#address', address);
          await page.press('#address', 'Enter');
        }
        const offered = () => page.locator('#recent-addresses [role="option"]').allTextContents();
        const expanded = () => page.getAttribute('#address', 'aria-expanded');
        // key presses after the field is emptied, the list offered meanwhile, the address checked
        const cases = [
          [['1', '0', '.', '0', '.', '0', '.', '1'], ['10.0.0.12'], '10.0.0.1'],
          [['ArrowDown', 'ArrowDown'], ['10.0.0.1', '10.0.0.2', '10.0.0.12'], '10.0.0.2'],
          [['ArrowUp'], ['10.0.0.2', '10.0.0.1', '10.0.0.12'], '10.0.0.12'],
        ];
        for (const [keys, shown, checked] of cases) {
          await page.fill('#address', '');
          await page.press('#address', 'Escape');
          for (const key of keys) await page.press('#address', key);
          assert.deepEqual(await offered(), shown, keys.join(' '));
          assert.equal(await expanded(), 'true');
          const before = await page.evaluate(() => window.__statusCalls.length);
          await page.press('#address', 'Enter');
          await page.waitForFunction((n) => window.__statusCalls.length > n, before);
          assert.equal(await page.evaluate(() => window.__statusCalls.at(-1)), checked, keys.join(' '));
          assert.equal(await page.inputValue('#address'), checked);
          assert.ok(await page.locator('#recent-addresses').isHidden());
          assert.equal(await expanded(), 'false');
        }
        // Escape closes the list and keeps the text; a click takes an address and checks it.
        await page.fill('#address', '10.0');
        await page.press('#address', 'Escape');
        assert.ok(await page.locator('#recent-addresses').isHidden());
        assert.equal(await page.inputValue('#address'), '10.0');
        await page.press('#address', 'ArrowDown');
        await page.click('#recent-addresses [role="option"]:nth-child(2)');
        await page.waitForFunction(() => window.__statusCalls.at(-1) === '10.0.0.2');
        assert.equal(await page.evaluate(() => document.activeElement.id), 'address');
      } finally {
        await context.close();
      }
    });

    test('works by keyboard and labels every control', async () => {
      const { context, page } = await openPage();
      try {
        assert.equal(await page.evaluate(() => document.activeElement.id), 'address');
        await page.keyboard.type('192.168.1.20');
        await page.keyboard.press('Enter'); // checks the gateway, runs nothing
        assert.deepEqual(await calls(page), []);
        await page.waitForFunction(() => document.getElementById('gateway-card').dataset.state === 'ok');
        assert.deepEqual(await page.evaluate(() => window.__statusCalls), ['192.168.1.20']);
        await page.keyboard.press('Tab');
        assert.equal(await page.evaluate(() => document.activeElement.id), 'check-button');
        await page.keyboard.press('Tab');
        assert.equal(await page.evaluate(() => document.activeElement.dataset.action), 'backup');
        await page.keyboard.press('Tab');
        assert.equal(await page.evaluate(() => document.activeElement.dataset.action), 'restore');
        await page.keyboard.press('Space');
        await page.waitForFunction(() => window.__calls.length === 1 && !document.body.classList.contains('busy'));
        await page.keyboard.press('Tab');
        await page.keyboard.press('Enter');
        await page.waitForFunction(() => window.__calls.length === 2 && !document.body.classList.contains('busy'));
        assert.deepEqual((await calls(page)).map((c) => c.name), ['native_actionRestore', 'native_actionFirmwareUpgrade']);

        const unlabelled = await page.evaluate(() => [...document.querySelectorAll('input, select, textarea')]
          .filter((field) => field.labels.length === 0).map((field) => field.id));
        assert.deepEqual(unlabelled, []);
        assert.equal(await page.getByLabel('Gateway address').count(), 1);
        for (const name of ['Back up…', 'Restore…', 'Upgrade…']) {
          assert.equal(await page.getByRole('button', { name }).count(), 1, name);
        }
      } finally {
        await context.close();
      }
    });

    describe('the site view', () => {
      const markup = '<img src=x onerror="window.__injected=1">';
      const file = '/home/ann/building.csv';
      const row = (name, address, more) => ({ name, address, model: '', serial: '', mac: '', notes: '', pinned: false,
        last_backup: null, firmware: null, changed: '', state: 'ok', failing_since: null, detail: '', ...more });
      const list = {
        site: { path: file, name: `Office ${markup}`, installer: 'Lumen Electric', notes: ['Tested on 2026-12-01.'], history: true },
        gateways: [
          row('hall-2', '192.0.2.11', { model: 'LUMARO-2', serial: 'LM2-817', notes: markup, pinned: true,
            last_backup: '2026-12-08 17:05 UTC', firmware: '1.5.0', changed: 'channel 1 gear 5 renamed' }),
          row('hall-10', '192.0.2.9', { state: 'no answer', failing_since: '2026-12-07 02:30 UTC', detail: 'no answer' }),
          row('attic', '192.0.2.30', { model: 'LUMARO-4', serial: 'LM4-9', notes: 'roof', pinned: true,
            last_backup: '2026-12-01 02:30 UTC', firmware: '1.3.1', changed: 'first backup' }),
        ],
      };
      const live = (name, address, state, detail, firmware) => ({ name, address, model: null, firmware, serial: null, mac: null,
        state, detail, failing_since: null, last_success: null });
      const status = { gateways: [live('hall-2', '192.0.2.11', 'ok', '', '1.6.0'),
        live('hall-10', '192.0.2.9', 'no answer', 'no answer within 15 s', null),
        live('attic', '192.0.2.30', 'other gateway at this address', "serial 'LM4-10' answered", '1.3.1')] };
      const cells = (page) => page.evaluate(() => [...document.querySelectorAll('#site-rows tr')]
        .map((tr) => [...tr.cells].map((td) => td.textContent)));
      const names = (page) => page.evaluate(() => [...document.querySelectorAll('#site-rows tr')].map((tr) => tr.dataset.name));
      const siteCalls = (page, name) => page.evaluate((n) => window.__siteCalls.filter((c) => c[0] === n).map((c) => c.slice(1)), name);
      const setAnswer = (page, name, answer) => page.evaluate(([n, a]) => { window.__site[n] = a; },
        [name, typeof answer === 'string' ? answer : JSON.stringify(answer)]);

      test('lists the gateways with their live states as text, sorts them and opens one by keyboard', async () => {
        const { context, page, problems } = await openPage({ width: 1280, height: 800 });
        try {
          await setAnswer(page, 'native_siteRecent', { sites: [file, markup] });
          await setAnswer(page, 'native_siteOpen', list);
          await setAnswer(page, 'native_siteStatus', 'hold');
          await page.focus('#tab-gateway');
          await page.keyboard.press('ArrowRight');
          assert.ok(await page.locator('#view-site').isVisible());
          assert.ok(await page.locator('#view-gateway').isHidden());
          assert.equal(await page.evaluate(() => document.activeElement.id), 'tab-site');
          await page.waitForFunction(() => document.querySelectorAll('#site-recent button').length === 2);
          assert.deepEqual(await page.locator('#site-recent button').allTextContents(), [file, markup]);
          await page.click('#site-recent button >> nth=0');
          await page.waitForFunction(() => typeof window.__siteRelease.native_siteStatus === 'function');
          assert.deepEqual(await siteCalls(page, 'native_siteOpen'), [[file]]);
          assert.deepEqual((await cells(page)).map((r) => r[2]), ['checking…', 'checking…', 'checking…']);
          assert.ok(await page.locator('#site-refresh').isDisabled());
          await page.evaluate((s) => window.__siteRelease.native_siteStatus(s), JSON.stringify(status));
          await page.waitForFunction(() => !document.querySelector('#site-rows tr[data-state="checking"]'));
          assert.deepEqual(await siteCalls(page, 'native_siteStatus'), [[file]]);
          assert.deepEqual(await cells(page), [
            ['hall-2', '192.0.2.11', 'ok', 'LUMARO-2 LM2-817', '1.6.0', '2026-12-08 17:05 UTC', 'channel 1 gear 5 renamed', '–', markup],
            ['hall-10', '192.0.2.9', 'no answer within 15 s', 'not pinned', '–', '–', '–', '2026-12-07 02:30 UTC (no answer)', '–'],
            ['attic', '192.0.2.30', "other gateway at this address: serial 'LM4-10' answered", 'LUMARO-4 LM4-9', '1.3.1',
              '2026-12-01 02:30 UTC', 'first backup', '–', 'roof']]);
          assert.deepEqual(await page.locator('#site-rows tr').evaluateAll((rows) => rows.map((r) => r.dataset.state)), ['ok', 'problem', 'problem']);
          assert.equal(await page.locator('#site-name').textContent(), `Office ${markup}`);
          assert.equal(await page.locator('#view-site img').count(), 0);

          // header clicked, the order then, the header's aria-sort (empty values last either way)
          const sorts = [
            ['Name', ['attic', 'hall-2', 'hall-10'], 'ascending'],
            ['Name', ['hall-10', 'hall-2', 'attic'], 'descending'],
            ['Address', ['hall-10', 'hall-2', 'attic'], 'ascending'],
            ['State', ['hall-10', 'hall-2', 'attic'], 'ascending'],
            ['Firmware', ['attic', 'hall-2', 'hall-10'], 'ascending'],
            ['Firmware', ['hall-2', 'attic', 'hall-10'], 'descending'],
            ['Last backup', ['attic', 'hall-2', 'hall-10'], 'ascending'],
            ['Pin', ['hall-2', 'attic', 'hall-10'], 'ascending'],
          ];
          for (const [header, order, sort] of sorts) {
            await page.locator('#site-head').getByRole('button', { name: header, exact: true }).click();
            assert.deepEqual(await names(page), order, `${header} ${sort}`);
            assert.deepEqual(await page.locator('#site-head th[aria-sort]:not([aria-sort="none"])').allTextContents(), [header]);
            assert.equal(await page.locator('#site-head th:not([aria-sort="none"])').getAttribute('aria-sort'), sort);
          }

          // Rows are reached by the arrows; Enter opens the gateway, whose actions then go through the site.
          await page.focus('#site-rows tr[tabindex="0"]');
          const focused = () => page.evaluate(() => document.activeElement.dataset.name);
          for (const [key, name] of [['ArrowDown', 'attic'], ['End', 'hall-10'], ['ArrowDown', 'hall-10'], ['Home', 'hall-2'], ['ArrowDown', 'attic'],
            ['ArrowUp', 'hall-2']]) {
            await page.keyboard.press(key);
            assert.equal(await focused(), name, key);
          }
          assert.equal(await page.locator('#site-rows tr[tabindex="0"]').count(), 1);
          assert.equal(await page.locator('#site-chosen-name').textContent(), 'hall-2');
          await page.keyboard.press('Enter');
          assert.ok(await page.locator('#view-gateway').isVisible());
          assert.equal(await page.inputValue('#address'), '192.0.2.11');
          assert.equal(await page.locator('#site-gateway-name').textContent(), 'hall-2');
          await page.waitForFunction(() => document.getElementById('gateway-card').dataset.state === 'ok');
          assert.equal(await page.evaluate(() => window.__statusCalls.at(-1)), '192.0.2.11');
          await runAction(page, 'backup', 0);
          await runAction(page, 'channel', 0);
          await page.click('#site-gateway-back');
          assert.equal(await focused(), 'hall-2');
          // Another address typed is not the site's gateway any more.
          await page.click('#tab-gateway');
          await page.fill('#address', '192.0.2.99');
          assert.ok(await page.locator('#site-gateway').isHidden());
          await runAction(page, 'backup', 0);
          assert.deepEqual((await calls(page)).map((c) => [c.name, ...c.args]), [
            ['native_siteAction', file, 'hall-2', 'native_actionBackup'],
            ['native_siteAction', file, 'hall-2', 'native_actionSetupChannel', 1, 'gear'],
            ['native_actionBackup', '192.0.2.99']]);
          assert.equal(await page.evaluate(() => window.__injected), undefined);
          assert.deepEqual(problems, []);
        } finally {
          await context.close();
        }
      });

      test('changes rows, backs up all, compares and restores versions, makes reports and shows every error as text', async () => {
        const { context, page, problems } = await openPage({ width: 1280, height: 800 });
        try {
          await page.click('#tab-site');
          // what "Open a site…" answered, the message, the site file's lines shown under it
          const refusals = [
            ['{"error":"cannot read /x.csv: no such file"}', 'cannot read /x.csv: no such file', []],
            [JSON.stringify({ errors: [`building.csv:7: row '${markup}': address missing`, 'building.csv:9: name used twice'] }),
              'The site file has errors; fix them in the file and open it again:',
              [`building.csv:7: row '${markup}': address missing`, 'building.csv:9: name used twice']],
            ['{"site":', 'The varnkit window gave no usable answer (Unexpected end of JSON input).', []],
          ];
          for (const [answer, message, lines] of refusals) {
            await setAnswer(page, 'native_siteOpen', answer);
            await page.click('#site-open');
            await page.waitForFunction(() => document.getElementById('site-message').dataset.kind === 'error');
            assert.equal(await page.locator('#site-message').textContent(), message);
            assert.deepEqual(await page.locator('#site-errors li').allTextContents(), lines);
            assert.ok(await page.locator('#site-panel').isHidden());
          }
          await openSite(page, { list, status });
          assert.ok(await page.locator('#site-message').isHidden());

          // The form: the address is checked here; the tool's refusal is shown; a saved row is chosen.
          const added = { ...list, gateways: [...list.gateways, row('new-1', '192.0.2.50')] };
          await page.click('#site-add');
          assert.equal(await page.evaluate(() => document.activeElement.id), 'site-form-name');
          await page.fill('#site-form-name', 'new-1');
          await page.fill('#site-form-address', 'gw;calc');
          await page.click('#site-form-save');
          assert.match(await page.locator('#site-form-error').textContent(), /is not an IPv4 address/);
          await page.fill('#site-form-address', ' 192.0.2.50 ');
          const saves = [[JSON.stringify({ error: `row name 'new-1' is already used ${markup}` }), `row name 'new-1' is already used ${markup}`],
            [JSON.stringify(added), '']];
          for (const [answer, error] of saves) {
            await setAnswer(page, 'native_siteChange', answer);
            await page.click('#site-form-save');
            await page.waitForFunction((e) => document.getElementById('site-form-error').textContent === e
              && !document.getElementById('site-form-save').disabled, error);
          }
          assert.ok(await page.locator('#site-form').isHidden());
          assert.equal(await page.evaluate(() => document.activeElement.dataset.name), 'new-1');
          await page.click('#site-rows tr[data-name="hall-2"]');
          await page.click('#site-row-edit');
          assert.equal(await page.inputValue('#site-form-notes'), markup);
          await page.fill('#site-form-notes', 'stairwell');
          await page.click('#site-form-save');
          await page.waitForFunction(() => document.getElementById('site-form').hidden);
          for (const [button, said] of [['#site-row-pin', 'hall-2 is pinned: LUMARO-2 LM2-817.'],
            ['#site-row-remove', 'hall-2 was removed from the site file; the history keeps its versions.']]) {
            await page.click('#site-rows tr[data-name="hall-2"]');
            await page.click(button);
            await page.waitForFunction((t) => document.getElementById('site-outcome').textContent === t, said);
          }
          assert.deepEqual((await siteCalls(page, 'native_siteChange')).map(([p, change]) => [p, JSON.parse(change)]), [
            [file, { op: 'add', name: 'new-1', address: '192.0.2.50', notes: '' }],
            [file, { op: 'add', name: 'new-1', address: '192.0.2.50', notes: '' }],
            [file, { op: 'edit', name: 'hall-2', new_name: 'hall-2', address: '192.0.2.11', notes: 'stairwell' }],
            [file, { op: 'pin', name: 'hall-2' }],
            [file, { op: 'remove', name: 'hall-2' }]]);

          // A refresh that fails says why and claims no state.
          await setAnswer(page, 'native_siteStatus', '{"error":"varnu-site is missing"}');
          await page.click('#site-refresh');
          await page.waitForFunction(() => document.getElementById('site-outcome').dataset.kind === 'error');
          assert.equal(await page.locator('#site-outcome').textContent(), 'The states could not be checked: varnu-site is missing');
          assert.deepEqual([...new Set((await cells(page)).map((r) => r[2]))], ['not checked']);

          // Back up all: the run's progress, then its own summary, then the site file read again.
          const after = { ...list, gateways: list.gateways.map((g) => ({ ...g, changed: g.name === 'attic' ? 'channel 2 gear 1 renamed' : g.changed })) };
          await setAnswer(page, 'native_siteList', after);
          await page.evaluate(() => { window.__hold = true; window.__running = true; window.__progressText = '2 of 3'; });
          await page.click('#site-backup-all');
          await page.waitForFunction(() => document.getElementById('site-outcome').textContent === 'Running: 2 of 3. Follow the steps in the run view.');
          assert.ok(await page.locator('#site-backup-all').isDisabled());
          assert.ok(await page.locator('button[data-action="backup"]').isDisabled());
          await page.evaluate(() => {
            window.__lastRun = JSON.stringify({ log: 'site.log', result: 'failed', summary: 'Failed: 3 gateways: 2 done, 1 failed.' });
            window.__nextResult = 1;
            window.__release();
          });
          await page.waitForFunction(() => document.getElementById('site-outcome').dataset.kind === 'error');
          assert.equal(await page.locator('#site-outcome').textContent(), 'Failed: 3 gateways: 2 done, 1 failed. The run view shows each step.');
          await page.waitForFunction(() => document.querySelector('#site-rows tr[data-name="attic"] td[data-column="changed"]').textContent === 'channel 2 gear 1 renamed');
          assert.deepEqual(await siteCalls(page, 'native_siteList'), [[file]]);
          assert.equal(await page.locator('#activity li .activity-action').first().textContent(), 'Back up all');
          assert.ok(await page.locator('#site-backup-all').isEnabled());

          // History: two ticks at most (a third replaces the first), the older one first in the comparison.
          const version = (id, summary, changes) => ({ version: `${id}`.repeat(40), short: `${id}`.repeat(7), time: '2026-12-08 17:05 UTC', summary, changes });
          await setAnswer(page, 'native_siteLog', { versions: [version('c', 'backup: 1 of 3 gateways changed', [`attic: gear 1 renamed → ${markup}`]),
            version('b', 'backup: 2 of 3 gateways changed', []), version('a', 'first backup', [])] });
          await page.click('#site-rows tr[data-name="attic"]');
          await page.click('#site-row-history');
          await page.waitForFunction(() => document.querySelectorAll('#site-versions > li').length === 3);
          assert.equal(await page.locator('#site-history-title').textContent(), 'History of attic');
          assert.deepEqual(await page.locator('#site-versions .backup-changes li').allTextContents(), [`attic: gear 1 renamed → ${markup}`]);
          const ticks = page.locator('#site-versions input[type="checkbox"]');
          for (const index of [2, 0, 1]) await ticks.nth(index).check();
          assert.deepEqual(await ticks.evaluateAll((boxes) => boxes.map((b) => b.checked)), [true, true, false]);
          const comparison = { old: 'attic@bbbbbbb', new: 'attic@ccccccc', different: true, gateway: [],
            configurations: [{ name: 'dali1', state: 'changed', old_version: 3, new_version: 3, compared_as_records: true, differing_bytes: 0,
              changes: [{ section: 'gear', slot: 1, field: 'name', old: 'Stair', new: markup }] }] };
          for (const [answer, shown] of [['{"error":"no such version"}', 'no such version'], [JSON.stringify(comparison), '']]) {
            await setAnswer(page, 'native_siteDiff', answer);
            await page.click('#site-diff');
            await page.waitForFunction((s) => document.getElementById('site-history-message').textContent === s
              && document.getElementById('site-history-message').dataset.kind !== 'busy', shown);
          }
          assert.deepEqual(await siteCalls(page, 'native_siteDiff'), [[file, 'attic', 'b'.repeat(40), 'c'.repeat(40)],
            [file, 'attic', 'b'.repeat(40), 'c'.repeat(40)]]);
          assert.equal(await page.locator('#site-diff-view td:nth-child(4)').textContent(), `gear 1 name: Stair → ${markup}`);
          await page.evaluate(() => { window.__hold = false; window.__nextResult = 0; window.__lastRun = JSON.stringify({ log: 'r.log', result: 'done' }); });
          await page.locator('#site-versions > li').nth(2).getByRole('button', { name: 'Restore this version' }).click();
          await page.waitForFunction(() => document.getElementById('site-restore-outcome').dataset.kind === 'ok');
          assert.equal(await page.locator('#site-restore-outcome').textContent(), 'Done: the version was restored onto the gateway.');
          assert.deepEqual((await calls(page)).map((c) => [c.name, ...c.args]),
            [['native_siteBackupAll', file], ['native_siteRestore', file, 'attic', 'a'.repeat(40)]]);

          // Reports of the site, of the chosen gateway and of an opened backup file.
          await page.evaluate(() => { window.__backup = JSON.stringify({ source: '/home/ann/b.zip', kind: 'archive', gateway: {}, configurations: [] }); });
          const reports = [
            ['#site-report', 'native_siteReport', [file, '[]'], '{"path":"/home/ann/handover.pdf"}', '#site-outcome', 'The report is /home/ann/handover.pdf'],
            ['#site-row-report', 'native_siteReport', [file, '["attic"]'], JSON.stringify({ error: `cannot write ${markup}` }), '#site-outcome', `cannot write ${markup}`],
            ['#backup-report', 'native_backupReport', ['/home/ann/b.zip'], '{"path":"/tmp/b.pdf"}', '#backup-message', 'The report is /tmp/b.pdf'],
            ['#gateway-report', 'native_gatewayReport', ['192.0.2.40'], JSON.stringify({ error: `not read ${markup}` }), '#report-outcome', `not read ${markup}`],
          ];
          for (const [button, name, args, answer, where, text] of reports) {
            if (button === '#backup-report') {
              await page.click('#tab-gateway');
              await page.click('#open-backup');
              await page.waitForFunction(() => !document.getElementById('backup-report').disabled);
            }
            if (button === '#gateway-report') await page.fill('#address', ' 192.0.2.40');
            await setAnswer(page, name, answer);
            await page.click(button);
            await page.waitForFunction(([w, t]) => document.querySelector(w).textContent === t, [where, text]);
            assert.deepEqual((await siteCalls(page, name)).at(-1), args);
          }
          assert.equal(await page.locator('img').count(), 0);
          assert.equal(await page.evaluate(() => window.__injected), undefined);
          assert.deepEqual(problems, []);
        } finally {
          await context.close();
        }
      });

      test('is readable at 1280×800 at scale 1 and 2 and comes back after a reload', async () => {
        const shots = path.join(buildDir, 'http-screenshots');
        mkdirSync(shots, { recursive: true });
        const sample = sampleSite(20);
        for (const scale of [1, 2]) {
          const { context, page, problems } = await openPage({ width: 1280, height: 800, scale });
          try {
            await context.addInitScript((answers) => Object.assign(window.__site, answers),
              { native_siteList: JSON.stringify(sample.list), native_siteStatus: JSON.stringify(sample.status) });
            await openSite(page, sample);
            const layout = await page.evaluate(() => ({
              scroll: document.documentElement.scrollWidth,
              client: document.documentElement.clientWidth,
              table: document.getElementById('site-table').getBoundingClientRect().right,
              box: document.querySelector('.site-table-box').getBoundingClientRect().right,
              smallest: Math.min(...[...document.querySelectorAll('#site-table td, #site-table th button')]
                .map((el) => parseFloat(getComputedStyle(el).fontSize))),
            }));
            assert.ok(layout.scroll <= layout.client, `scale ${scale}: ${JSON.stringify(layout)}`);
            assert.ok(layout.table <= layout.box + 0.5, `scale ${scale}: the table needs scrolling ${JSON.stringify(layout)}`);
            assert.ok(layout.smallest >= 12, `scale ${scale}: ${layout.smallest}px text`);
            await page.screenshot({ path: path.join(shots, `site-1280-x${scale}.png`) });
            // The window reloads its page when its server restarts: the same view and site come back.
            await page.reload();
            await page.waitForFunction(() => document.querySelectorAll('#site-rows tr:not([data-state="checking"])').length === 20);
            assert.ok(await page.locator('#view-site').isVisible());
            assert.deepEqual(await page.evaluate(() => window.__siteCalls.map((c) => c.slice(0, 2))),
              [['native_siteRecent'], ['native_siteList', sample.list.site.path], ['native_siteStatus', sample.list.site.path]]);
            assert.deepEqual(problems, []);
          } finally {
            await context.close();
          }
        }
      });
    });

    test('fits 600 and 790 pixel wide windows and uses a maximised one', async () => {
      const shots = path.join(buildDir, 'http-screenshots');
      mkdirSync(shots, { recursive: true });
      for (const varnkit of [true, false]) {
        for (const width of [600, 790, 1600]) {
          const { context, page } = await openPage({ varnkit, width, height: 800 });
          try {
            // The longest label a host name may have, unbroken.
            const longName = `${'lumaro-gateway-'.repeat(4)}hal.example.com`;
            await page.fill('#address', varnkit ? `${longName}:8080` : longName);
            if (varnkit) {
              await runAction(page, 'firmware', 1);
              // A backup outcome names an archive path with no place to break.
              await page.evaluate(() => { window.__lastRun = JSON.stringify({ log: 'a.log', archive: `/home/${'x'.repeat(90)}.zip`, result: 'done' }); });
              await runAction(page, 'backup', 0);
            }
            const overflow = await page.evaluate(() => {
              const wide = [...document.querySelectorAll('body *')]
                .filter((el) => el.getBoundingClientRect().right > document.documentElement.clientWidth + 0.5)
                .map((el) => el.className || el.tagName);
              return { scroll: document.documentElement.scrollWidth, client: document.documentElement.clientWidth, wide };
            });
            assert.ok(overflow.scroll <= overflow.client, `${width}: ${JSON.stringify(overflow)}`);
            assert.deepEqual(overflow.wide, [], `${width}`);
            // A wide window gets a wide page, not a narrow column in its middle.
            const used = (await page.locator('.page').boundingBox()).width;
            assert.ok(used >= Math.min(width, 1280) - 1, `${width}: the page is ${used} wide`);
            for (const action of ['backup', 'restore', 'firmware', 'channel', 'export']) {
              const box = await page.locator(`button[data-action="${action}"]`).boundingBox();
              assert.ok(box.x >= 0 && box.x + box.width <= width, `${action} at ${width}`);
            }
            await page.screenshot({ path: path.join(shots, `${varnkit ? 'varnkit' : 'browser'}-${width}.png`), fullPage: true });
            if (varnkit) {
              // The site's table scrolls in its own box; the page does not.
              await openSite(page, sampleSite(8));
              assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= document.documentElement.clientWidth), `site at ${width}`);
            }
          } finally {
            await context.close();
          }
        }
      }
    });
  });
});
