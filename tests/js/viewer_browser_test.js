// `kmztile view` in a real browser: builds the demo city (both formats),
// serves it with `kmztile view` at a free port and drives Debian's headless
// Chromium (WebGL through SwiftShader) with puppeteer-core. Checks that the
// page loads the tileset and draws at least the city's level-15 tiles with
// no console error or failed request, that the city shows on screen (the
// pixels of its box differ from the same view without it), that a request
// leaving the output folder is refused, that the boundaries switch outlines
// every tile of a level, and that SIGTERM stops the server.
//
// node viewer_browser_test.js KMZTILE [--out BUILT_OUTPUT] [--screenshot PNG]
// Exit 0: passed; 1: failed; 77: skipped (no Chromium on this machine).
'use strict';
const { spawn, spawnSync } = require('child_process');
const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');

const CHROMIUM_CANDIDATES = ['/usr/bin/chromium', '/usr/bin/chromium-browser'];
const started = Date.now();

function log(message) {
  console.log(`[${((Date.now() - started) / 1000).toFixed(1)} s] ${message}`);
}

function parseArguments(argv) {
  const options = { cli: argv[0], out: null, screenshot: null };
  for (let i = 1; i < argv.length; i += 2) {
    if (argv[i] === '--out') options.out = argv[i + 1];
    else if (argv[i] === '--screenshot') options.screenshot = argv[i + 1];
    else throw new Error(`unknown argument ${argv[i]}`);
  }
  if (!options.cli) throw new Error('usage: viewer_browser_test.js KMZTILE [--out DIR] [--screenshot PNG]');
  return options;
}

// Starts `kmztile view OUT --port 0` and resolves with the URL it prints.
function startViewer(cli, out) {
  const child = spawn(cli, ['view', out, '--port', '0'], { stdio: ['ignore', 'pipe', 'pipe'] });
  let stderr = '';
  child.stderr.on('data', (d) => { stderr += d; });
  const url = new Promise((resolve, reject) => {
    let stdout = '';
    child.stdout.on('data', (d) => {
      stdout += d;
      const match = /http:\/\/127\.0\.0\.1:\d+\//.exec(stdout);
      if (match) resolve(match[0]);
    });
    child.on('exit', (code) => reject(new Error(`kmztile view exited with ${code}: ${stderr}`)));
  });
  return { child, url, stderr: () => stderr };
}

// GET with the path sent exactly as written (no normalising of "..").
function rawGet(url, target) {
  const { hostname, port } = new URL(url);
  return new Promise((resolve, reject) => {
    const request = http.request({ hostname, port, path: target, method: 'GET' }, (response) => {
      let body = '';
      response.on('data', (d) => { body += d; });
      response.on('end', () => resolve({ status: response.statusCode, body }));
    });
    request.on('error', reject);
    request.end();
  });
}

function waitForExit(child, milliseconds) {
  return new Promise((resolve) => {
    if (child.exitCode !== null) return resolve(child.exitCode);
    const timer = setTimeout(() => resolve(null), milliseconds);
    child.on('exit', (code) => { clearTimeout(timer); resolve(code); });
  });
}

// Pixels inside box (clipped to the image) whose colour differs clearly.
function differingPixels(a, b, box) {
  const left = Math.max(0, Math.floor(box.left));
  const top = Math.max(0, Math.floor(box.top));
  const right = Math.min(a.width, Math.ceil(box.right));
  const bottom = Math.min(a.height, Math.ceil(box.bottom));
  let differing = 0;
  for (let y = top; y < bottom; ++y) {
    for (let x = left; x < right; ++x) {
      const i = (y * a.width + x) * 4;
      const delta = Math.abs(a.data[i] - b.data[i]) + Math.abs(a.data[i + 1] - b.data[i + 1]) +
        Math.abs(a.data[i + 2] - b.data[i + 2]);
      if (delta > 30) differing += 1;
    }
  }
  return { differing, area: Math.max(0, right - left) * Math.max(0, bottom - top) };
}

async function main() {
  const options = parseArguments(process.argv.slice(2));
  const chromium = CHROMIUM_CANDIDATES.find((c) => fs.existsSync(c));
  if (!chromium) {
    console.log('SKIPPED: Debian\'s chromium is not installed (scripts/bootstrap.sh installs it)');
    return 77;
  }
  const puppeteer = require('puppeteer-core');
  const { PNG } = require('pngjs');
  const failures = [];
  const check = (ok, message) => {
    log(`${ok ? 'ok  ' : 'FAIL'} ${message}`);
    if (!ok) failures.push(message);
  };

  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'kmztile-viewer-test-'));
  let viewer = null;
  let browser = null;
  try {
    let out = options.out;
    if (!out) {
      out = path.join(work, 'demo');
      const demo = spawnSync(options.cli, ['demo', out], { encoding: 'utf8' });
      if (demo.status !== 0) throw new Error(`kmztile demo failed (${demo.status}): ${demo.stderr}`);
      check(/kmztile view /.test(demo.stdout), 'kmztile demo ends with the kmztile view command');
      log('demo city built');
    }
    // A file beside the output folder that no request may read (made only
    // beside the test's own build; refusal does not depend on it existing).
    const secret = path.join(path.dirname(path.resolve(out)), 'viewer-test-secret.txt');
    if (!options.out) fs.writeFileSync(secret, 'not for the browser\n');
    const catalog = JSON.parse(fs.readFileSync(path.join(out, 'tileset.json'), 'utf8'));
    const level15 = catalog.levels.find((l) => l.level === 15).tiles;

    viewer = startViewer(options.cli, out);
    const url = await viewer.url;
    log(`kmztile view serves ${url}`);
    for (const target of [`/out/../${path.basename(secret)}`, `/out/%2e%2e/${path.basename(secret)}`,
      `/out/..%2f${path.basename(secret)}`]) {
      const answer = await rawGet(url, target);
      check(answer.status === 403 && !answer.body.includes('not for the browser'),
        `GET ${target} is refused (${answer.status})`);
    }

    const args = ['--headless=new', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
      '--ignore-gpu-blocklist', '--no-first-run', '--disable-extensions', '--window-size=1024,640',
      `--user-data-dir=${path.join(work, 'profile')}`];
    if (process.getuid && process.getuid() === 0) args.push('--no-sandbox');
    browser = await puppeteer.launch({ executablePath: chromium, headless: true, args,
      defaultViewport: { width: 1024, height: 640 } });
    const page = await browser.newPage();
    const problems = [];
    page.on('console', (m) => { if (m.type() === 'error') problems.push(`console: ${m.text()}`); });
    page.on('pageerror', (e) => problems.push(`page error: ${e.message}`));
    page.on('requestfailed', (r) => problems.push(`request failed: ${r.url()} ${r.failure().errorText}`));
    page.on('response', (r) => { if (r.status() >= 400) problems.push(`HTTP ${r.status()}: ${r.url()}`); });
    const requested = new Set();
    page.on('request', (r) => requested.add(new URL(r.url()).origin));

    await page.goto(url, { waitUntil: 'load', timeout: 30000 });
    await page.waitForFunction(() => window.kmztileViewer && window.kmztileViewer.state !== 'loading',
      { timeout: 90000, polling: 250 });
    const status = await page.evaluate(() => ({ ...window.kmztileViewer }));
    check(status.state === 'ready', `the page loaded the tileset (${status.state}${status.error ? ': ' + status.error : ''})`);
    log(`page ready: ${status.renderedContents} tile contents drawn`);
    check(status.renderedContents >= level15,
      `tile contents drawn (${status.renderedContents}) >= the city's level-15 tiles (${level15})`);

    // The same view with and without the city.
    const box = await page.evaluate(() => window.kmztileViewer.cityBox());
    const withCity = await page.screenshot({ type: 'png' });
    const frames = await page.evaluate(() => { window.kmztileViewer.showCity(false); return window.kmztileViewer.frames; });
    await page.waitForFunction((f) => window.kmztileViewer.frames >= f + 2, { timeout: 30000, polling: 100 }, frames);
    const withoutCity = await page.screenshot({ type: 'png' });
    if (options.screenshot) fs.writeFileSync(options.screenshot, withCity);
    const { differing, area } = differingPixels(PNG.sync.read(Buffer.from(withCity)),
      PNG.sync.read(Buffer.from(withoutCity)), box || { left: 0, top: 0, right: 0, bottom: 0 });
    check(area > 0 && differing >= Math.max(1000, area * 0.005),
      `the city shows: ${differing} of ${area} pixels of its box differ from the empty scene`);

    // The boundaries switch draws one outline per tile of the level chosen.
    const level16 = catalog.levels.find((l) => l.level === 16).tiles;
    await page.select('#boundaries', '16');
    const outlines = await page.waitForFunction((n) => window.kmztileViewer.boundaries === n,
      { timeout: 20000, polling: 100 }, level16).then(() => level16, async () =>
      page.evaluate(() => window.kmztileViewer.boundaries));
    check(outlines === level16, `the boundaries of level 16 are drawn: ${outlines} outlines for ${level16} tiles`);

    check(problems.length === 0, `no console errors or failed requests${problems.length ? ':\n  ' + problems.join('\n  ') : ''}`);
    check([...requested].every((o) => o === new URL(url).origin || o === 'null'),
      `every request went to the local server (${[...requested].join(', ')})`);
    const answer = await page.evaluate(async (name) => {
      // The browser itself folds ".." and "%2e%2e"; an encoded slash it sends as is.
      const r = await fetch(`out/..%2f${name}`);
      return { status: r.status, body: await r.text() };
    }, path.basename(secret));
    check(answer.status === 403 && !answer.body.includes('not for the browser'),
      `the page cannot fetch a file outside the output folder (${answer.status})`);

    await browser.close();
    browser = null;
    viewer.child.kill('SIGTERM');
    const code = await waitForExit(viewer.child, 10000);
    check(code === 0, `kmztile view stops on SIGTERM with exit code 0 (${code})`);
    viewer = null;
  } finally {
    if (browser) await browser.close().catch(() => {});
    if (viewer && viewer.child.exitCode === null) viewer.child.kill('SIGKILL');
    fs.rmSync(work, { recursive: true, force: true });
  }
  log(failures.length === 0 ? 'viewer browser test passed' : `${failures.length} checks failed`);
  return failures.length === 0 ? 0 : 1;
}

main().then((code) => process.exit(code), (e) => {
  console.error(`viewer browser test: ${e.stack || e}`);
  process.exit(1);
});
