// Shared by the page tests and the screenshot script: the built server on a
// free loopback port, headless Chromium, and test doubles for the functions
// that the varnkit window puts on every page.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const here = path.dirname(fileURLToPath(import.meta.url));
export const buildDir = process.env.VARNU_BUILD_DIR || path.join(here, '..', '..', 'build');
const contentDir = path.join(buildDir, 'out', 'http');

export const NATIVE_ACTIONS = ['native_actionBackup', 'native_actionRestore', 'native_actionFirmwareUpgrade',
  'native_actionSetupChannel', 'native_actionExportChannel'];
// The site's functions that answer with JSON text, and those that run the tool (an integer result).
export const SITE_READERS = ['native_siteRecent', 'native_siteOpen', 'native_siteCreate', 'native_siteList',
  'native_siteStatus', 'native_siteChange', 'native_siteLog', 'native_siteDiff', 'native_siteReport', 'native_backupReport',
  'native_gatewayReport'];
export const SITE_RUNS = ['native_siteBackupAll', 'native_siteRestore', 'native_siteAction'];

// Starts varnkit-http-server on a free port; resolves to { url, stop }.
export function startServer() {
  return new Promise((resolve, reject) => {
    const logDir = fs.mkdtempSync(path.join(os.tmpdir(), 'varnkit-pages-log-'));
    const child = spawn(path.join(contentDir, 'varnkit-http-server'), ['--port', '0', '--log-dir', logDir], {
      cwd: contentDir,
      stdio: ['ignore', 'ignore', 'pipe'],
    });
    let seen = '';
    const timer = setTimeout(() => reject(new Error(`server did not start: ${seen}`)), 10000);
    child.on('error', reject);
    child.stderr.setEncoding('utf8');
    child.stderr.on('data', (chunk) => {
      seen += chunk;
      const match = /at (http:\/\/127\.0\.0\.1:\d+\/)/.exec(seen);
      if (match && timer) {
        clearTimeout(timer);
        resolve({
          url: match[1],
          stop: () => new Promise((done) => {
            child.once('exit', () => {
              fs.rmSync(logDir, { recursive: true, force: true });
              done();
            });
            child.kill('SIGTERM');
          }),
        });
      }
    });
  });
}

export function launchBrowser() {
  return chromium.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    chromiumSandbox: false,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  });
}

// Installs doubles of the native functions before the page's scripts run, as
// the varnkit window does. Each call is recorded in window.__calls together
// with what the page showed at that moment, and returns window.__nextResult
// ('throw' makes it throw). native_gatewayStatus records its address in
// window.__statusCalls and resolves to window.__status ('reject' rejects);
// native_lastRun returns window.__lastRun; native_showLog records its name in
// window.__logsShown and finds every log whose name does not start with "gone".
// native_showBackup and native_compareBackups record their arguments in
// window.__backupCalls and resolve to window.__backup and window.__comparison.
// Each of SITE_READERS records [name, ...args] in window.__siteCalls and
// resolves to window.__site[name] (JSON text); 'hold' waits until
// window.__siteRelease[name](text). SITE_RUNS are recorded and answered like the
// actions, in the background as native_runAction runs them.
export const GATEWAY_STATUS = { model_name: 'LUMARO-2', firmware_version: '1.5.0', serial_number: 'GW-0001', mac: '00:11:22:33:44:55' };

export async function installDoubles(context, version = '1.4.0') {
  await context.addInitScript(({ names, siteReaders, siteRuns, appVersion, status }) => {
    window.__calls = [];
    window.__nextResult = 0;
    window.__statusCalls = [];
    window.__status = JSON.stringify(status);
    window.native_appVersion = appVersion;
    // The background runner calls the same doubles; with __hold set it waits for __release().
    window.__hold = false;
    window.__progressText = '';
    window.native_runProgress = () => window.__progressText;
    window.__running = false;
    window.native_runRunning = () => window.__running;
    const later = (work) => new Promise((resolve, reject) => {
      const go = () => {
        try {
          resolve(work());
        } catch (e) {
          reject(e);
        }
      };
      if (window.__hold) window.__release = go; else setTimeout(go, 0);
    });
    window.native_runAction = (name, ...args) => later(() => window[name](...args));
    window.__lastRun = '{}';
    window.__logsShown = [];
    window.native_lastRun = () => window.__lastRun;
    window.native_showLog = (name) => {
      window.__logsShown.push(name);
      return name.startsWith('gone') ? -1 : 0;
    };
    window.__backupCalls = [];
    window.__backup = '{"cancelled":true}';
    window.__comparison = '{"cancelled":true}';
    window.native_showBackup = (...args) => {
      window.__backupCalls.push(['show', ...args]);
      return Promise.resolve(window.__backup);
    };
    window.native_compareBackups = (...args) => {
      window.__backupCalls.push(['compare', ...args]);
      return Promise.resolve(window.__comparison);
    };
    window.native_gatewayStatus = function (address) {
      window.__statusCalls.push(address);
      return window.__status === 'reject' ? Promise.reject(new Error('gone')) : Promise.resolve(window.__status);
    };
    window.__siteCalls = [];
    window.__site = { native_siteRecent: '{"sites":[]}' };
    window.__siteRelease = {};
    for (const name of siteReaders) {
      window[name] = (...args) => {
        window.__siteCalls.push([name, ...args]);
        const answer = window.__site[name] ?? '{"cancelled":true}';
        return answer === 'hold' ? new Promise((resolve) => { window.__siteRelease[name] = resolve; }) : Promise.resolve(answer);
      };
    }
    const record = (name, args) => {
      window.__calls.push({
        name,
        args,
        during: {
          disabled: [...document.querySelectorAll('button[data-action]')].map((b) => b.disabled),
          busyRows: [...document.querySelectorAll('.action[aria-busy="true"]')].map((row) => row.id),
          outcome: document.querySelector('.action[aria-busy="true"] .outcome')?.textContent ?? '',
          addressReadOnly: document.getElementById('address').readOnly,
        },
      });
      if (window.__nextResult === 'throw') throw new Error('the bridge went away');
      return window.__nextResult;
    };
    for (const name of names) window[name] = (...args) => record(name, args);
    for (const name of siteRuns) window[name] = (...args) => later(() => record(name, args));
  }, { names: NATIVE_ACTIONS, siteReaders: SITE_READERS, siteRuns: SITE_RUNS, appVersion: version, status: GATEWAY_STATUS });
}

// Clicks an action and waits until its outcome is final (the call runs after a repaint).
export async function runAction(page, action, result) {
  await page.evaluate((r) => { window.__nextResult = r; }, result);
  await page.click(`button[data-action="${action}"]`);
  const outcome = page.locator(`#${action}-outcome`);
  await page.waitForFunction((id) => {
    const kind = document.getElementById(id).dataset.kind;
    return kind && kind !== 'busy';
  }, `${action}-outcome`);
  return { kind: await outcome.getAttribute('data-kind'), text: await outcome.textContent() };
}

// A site's `list` document and its live status: `count` gateways, each fifth
// one not answering, each seventh one pinned to another serial than answers.
export function sampleSite(count) {
  const gateways = Array.from({ length: count }, (_, i) => ({
    name: `floor-${Math.floor(i / 4)}-gw-${i % 4}`, address: `192.0.2.${10 + i}`, model: 'LUMARO-2',
    serial: `LM2-${String(800 + i).padStart(6, '0')}`, mac: '', notes: i % 3 === 0 ? 'stairwell, cabinet E1' : '',
    pinned: i % 2 === 0, last_backup: i % 5 === 4 ? null : '2026-12-08 02:30 UTC', firmware: '1.5.0',
    changed: i === 1 ? "channel 1 gear 5 renamed 'Stair wall light' → 'Stair light'" : '', state: i % 5 === 4 ? 'no answer' : 'ok',
    failing_since: i % 5 === 4 ? '2026-12-06 02:30 UTC' : null, detail: i % 5 === 4 ? 'no answer within 15 s' : '',
  }));
  const status = gateways.map((g, i) => ({
    name: g.name, address: g.address, model: i % 5 === 4 ? null : g.model, firmware: i % 5 === 4 ? null : '1.5.0',
    serial: i % 5 === 4 ? null : g.serial, mac: null, state: i % 5 === 4 ? 'no answer' : (i % 7 === 6 ? 'other gateway at this address' : 'ok'),
    detail: i % 5 === 4 ? 'no answer within 15 s' : (i % 7 === 6 ? "serial 'LM4-9' answered" : ''), failing_since: g.failing_since, last_success: g.last_backup,
  }));
  return {
    list: { site: { path: '/home/ann/sites/office-building-a.csv', name: 'Office building A, Main Street 1',
      installer: 'Lumen Electric, J. Doe', notes: ['Emergency lighting tested on 2026-12-01.'], history: true }, gateways },
    status: { gateways: status },
  };
}

// Opens the site view and a site through "Open a site…"; waits until its live states are in.
export async function openSite(page, { list, status }) {
  await page.evaluate(([l, s]) => { window.__site.native_siteOpen = l; window.__site.native_siteStatus = s; },
    [JSON.stringify(list), JSON.stringify(status)]);
  await page.click('#tab-site');
  await page.click('#site-open');
  await page.waitForFunction(() => document.querySelector('#site-rows tr') && !document.querySelector('#site-rows tr[data-state="checking"]'));
}
