// What the browser tests and the page benchmark share: a seeded database, the
// real recorder on a free port of 127.0.0.1, and headless chromium.
import { spawn, spawnSync } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { createInterface } from 'node:readline';

export const SKIP = 77; // ctest's SKIP_RETURN_CODE

function skip(why) {
  console.log('skipped: ' + why);
  process.exit(SKIP);
}

export async function loadPuppeteer() {
  const chromium = process.env.POM_CHROMIUM || '/usr/bin/chromium';
  if (!existsSync(chromium)) skip(chromium + ' is missing; run scripts/install-deps');
  try {
    return { puppeteer: (await import('puppeteer-core')).default, chromium };
  } catch (e) {
    skip('node_modules/puppeteer-core is missing; run scripts/install-deps (npm ci)');
  }
}

export const outDir = process.env.POM_OUT || 'build/browser';
const bin = process.env.POM_BIN || 'build/bin';
const seedBin = process.env.POM_SEED || join(bin, 'recorder_seed');

// Times as the recorder stores them: wall-clock text, counted here as UTC.
export const MIN = 60;
export const HOUR = 3600;
export const DAY = 86400;
export const stamp = t => new Date(t * 1000).toISOString().slice(0, 19).replace('T', ' ');
export function localNowT() {
  const d = new Date();
  return Date.UTC(d.getFullYear(), d.getMonth(), d.getDate(), d.getHours(), d.getMinutes(), 0) / 1000;
}

// The seeded values, as tests/browser/recorder_seed.cpp writes them.
export function seededValue(channel, t) {
  const n = Math.floor(t / 60);
  const m = n % 1440;
  const d = Math.floor(t / 86400);
  if (channel === 0) return Math.round((m < 720 ? 2 + m / 60 : 2 + (1440 - m) / 60) * 100) / 100;
  if (channel === 1) return Math.round((3 + (d % 7) / 10 + (m % 60) / 1000) * 1000) / 1000;
  if (channel === 2) return Math.round((990 + (d % 30) + m / 1440) * 10) / 10;
  return channel + (n % 11);
}

export function workDir() {
  const dir = mkdtempSync(join(tmpdir(), 'pom-browser-'));
  return { dir, remove: () => rmSync(dir, { recursive: true, force: true }) };
}

export function seed(db, { end, days, tables, channels = 3, gaps = [] }) {
  const args = ['--db', db, '--end', stamp(end), '--days', String(days), '--channels', String(channels)];
  for (const t of tables) args.push('--table', t);
  for (const [a, b] of gaps) args.push('--gap', stamp(a) + ',' + stamp(b));
  const r = spawnSync(seedBin, args, { encoding: 'utf8' });
  if (r.status !== 0) throw new Error('recorder_seed failed: ' + (r.stderr || r.error));
}

// The real program on a free port; resolves when it has printed its address.
export function startRecorder(db) {
  const child = spawn(join(bin, 'pomiarnik-recorder'), ['--listen', '127.0.0.1:0', '--db', db], {
    stdio: ['ignore', 'pipe', 'inherit'],
  });
  const exited = new Promise(resolve => child.on('exit', resolve));
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error('the recorder did not start in 60 s')), 60000);
    child.on('error', reject);
    createInterface({ input: child.stdout }).once('line', line => {
      clearTimeout(timer);
      const url = line.trim().replace(/\/$/, '');
      resolve({
        url,
        async stop() {
          child.kill('SIGTERM');
          await exited;
        },
      });
    });
  });
}

export async function launch(puppeteer, chromium) {
  mkdirSync(outDir, { recursive: true });
  const args = ['--lang=pl-PL'];
  if (process.getuid && process.getuid() === 0) args.push('--no-sandbox');
  return puppeteer.launch({ executablePath: chromium, headless: true, args });
}

// A page whose console errors and script errors land in `problems`.
export async function openPage(browser, problems, width = 1280, height = 1000) {
  const page = await browser.newPage();
  await page.setViewport({ width, height });
  page.on('console', m => {
    if (m.type() === 'error') problems.push('console: ' + m.text());
  });
  page.on('pageerror', e => problems.push('page error: ' + e.message));
  return page;
}

// A reading posted as the uploader posts it: a multipart form.
export async function postReading(url, table, t, values) {
  const form = new FormData();
  form.append('Miasto', table);
  form.append('Data', stamp(t));
  values.forEach((v, i) => form.append('Sonda' + i, String(v)));
  const r = await fetch(url + '/Zapisz2Pomiary.php', { method: 'POST', body: form });
  return { status: r.status, body: await r.text() };
}
