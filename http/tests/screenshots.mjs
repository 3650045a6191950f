// Takes the screenshots of the user interface kept in docs/: the varnkit
// window at 600 and 790 pixels wide after a cancelled restore and a finished
// backup (the gateway card filled by each action's status check), and the site
// view of 20 gateways at 1280 by 800 at scale 1 and 2. Usage: node screenshots.mjs OUTDIR (needs a build; VARNU_BUILD_DIR).
import path from 'node:path';
import { installDoubles, launchBrowser, openSite, runAction, sampleSite, startServer } from './harness.mjs';

const outDir = process.argv[2];
if (!outDir) {
  console.error('usage: node screenshots.mjs OUTDIR');
  process.exit(2);
}

const server = await startServer();
const browser = await launchBrowser();
try {
  for (const width of [600, 790]) {
    const context = await browser.newContext({ viewport: { width, height: 700 } });
    await installDoubles(context);
    const page = await context.newPage();
    await page.goto(server.url);
    await page.fill('#address', '192.168.1.20');
    await runAction(page, 'restore', -1);
    await page.evaluate(() => {
      window.__lastRun = JSON.stringify({ log: '20260102-093015-backup-192.168.1.20.log',
        archive: '/home/ann/backups/backup_192.168.1.20_LUMARO_20260102_093015.zip' });
    });
    await runAction(page, 'backup', 0);
    await page.mouse.move(0, 0);
    await page.evaluate(() => new Promise((painted) => requestAnimationFrame(() => requestAnimationFrame(painted))));
    const file = path.join(outDir, `web-${width}.png`);
    await page.screenshot({ path: file, fullPage: true });
    console.log(file);
    await context.close();
  }
  for (const scale of [1, 2]) {
    const context = await browser.newContext({ viewport: { width: 1280, height: 800 }, deviceScaleFactor: scale });
    await installDoubles(context);
    const page = await context.newPage();
    await page.goto(server.url);
    await openSite(page, sampleSite(20));
    await page.focus('#site-rows tr[tabindex="0"]');
    await page.keyboard.press('ArrowDown');
    const file = path.join(outDir, `web-site-1280${scale === 1 ? '' : `@${scale}x`}.png`);
    await page.screenshot({ path: file });
    console.log(file);
    await context.close();
  }
} finally {
  await browser.close();
  await server.stop();
}
