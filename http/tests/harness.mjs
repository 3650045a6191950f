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
  'native_siteStatus', 'native_siteChange', 'native_siteLog', 'native_siteDiff', 'native_siteReport', 'native_backupReport'];
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
