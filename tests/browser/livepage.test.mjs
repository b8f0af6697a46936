// The live page in a real browser against the real program: Debian's chromium, driven by
// puppeteer-core, opens the page of a headless simulator that wants an HTTP token, enters the
// token in the page's form, checks the display against the window's glyphs and colours, clicks
// Clear, works a fault switch, then plays a host over the machine's TCP port (a format and a
// long emboss job) and checks that the card picture in the page changes while the job strikes
// and ends as the card the program holds. Takes a screenshot during the job.
//
//   node tests/browser/livepage.test.mjs build/app/vorlak
//
// Environment: LIVEPAGE_SCREENSHOT (where the screenshot goes; default ./livepage.png),
// CHROMIUM (the browser; default /usr/bin/chromium). Exits 0 when every check passed, 1
// otherwise; the program and the browser are ended whatever happens.

import { spawn } from 'node:child_process';
import { randomBytes } from 'node:crypto';
import { existsSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const sourceRoot = path.resolve(here, '..', '..');
const OVERALL_TIMEOUT_MS = 150000;
const SPEED = 20;

let puppeteer;
try {
    puppeteer = (await import('puppeteer-core')).default;
} catch (e) {
    console.error(`FAIL: puppeteer-core is not installed in ${here}/node_modules ` +
                  '(tools/install-deps.sh runs "npm ci" there): ' + e.message);
    process.exit(1);
}

const program = process.argv[2];
if (!program || !existsSync(program)) {
    console.error('usage: node livepage.test.mjs PATH/TO/vorlak' + (program ? ` (${program} not found)` : ''));
    process.exit(1);
}
const chromium = process.env.CHROMIUM || '/usr/bin/chromium';
if (!existsSync(chromium)) {
    console.error(`FAIL: no browser at ${chromium} (Debian's package chromium; tools/install-deps.sh installs it)`);
    process.exit(1);
}
const screenshotPath = path.resolve(process.env.LIVEPAGE_SCREENSHOT || 'livepage.png');

// --- the host's bytes ---------------------------------------------------------------------------

const POLL = Buffer.from('\x0431\x05', 'latin1');
const ACK = (c) => Buffer.from('\x06' + c, 'latin1');
const FEEDER_EMPTY_REPLY = Buffer.from('\x063\x02E82        FEEDER EMPTY\x03', 'latin1');

// A format of an 85.6 x 54.0 mm card: one field record (" 0YYY XXX F  PP", 0.1 mm, font 0,
// pitch 14) per line.
function formatMessage(lines) {
    let body = '  0540  0856';
    for (let i = 0; i < lines; ++i) {
        const y = String(60 + i * 55).padStart(3, '0');
        body += ` 0${y} 030 0  14`;
    }
    return Buffer.from('\x0131\x02F]00 U0 ' + body + '\x03', 'latin1');
}

function embossMessage(lines, tag) {
    return Buffer.from('\x0131\x02T]00' + lines.map((l) => l + '\r\n').join('') + '@' + tag + '\x03', 'latin1');
}

// --- small helpers ------------------------------------------------------------------------------

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const started = Date.now();
const log = (text) => console.log(`[${((Date.now() - started) / 1000).toFixed(2)} s] ${text}`);

class CheckFailed extends Error {}
function check(condition, message) {
    if (!condition)
        throw new CheckFailed(message);
}

function freePort() {
    return new Promise((resolve, reject) => {
        const server = net.createServer();
        server.once('error', reject);
        server.listen(0, '127.0.0.1', () => {
            const { port } = server.address();
            server.close(() => resolve(port));
        });
    });
}

async function until(what, predicate, timeoutMs, intervalMs = 25) {
    const deadline = Date.now() + timeoutMs;
    let last;
    for (;;) {
        last = await predicate();
        if (last)
            return last;
        if (Date.now() > deadline)
            throw new CheckFailed(`timed out after ${timeoutMs} ms waiting for ${what}`);
        await sleep(intervalMs);
    }
}

// A host on the machine's TCP port: sends bytes and reads the replies as they come.
class Host {
    constructor(port) {
        this.received = Buffer.alloc(0);
        this.socket = net.createConnection({ host: '127.0.0.1', port });
        this.socket.on('data', (data) => {
            this.received = Buffer.concat([this.received, data]);
        });
        this.socket.on('error', (e) => {
            this.error = e;
        });
        this.ready = new Promise((resolve, reject) => {
            this.socket.once('connect', resolve);
            this.socket.once('error', reject);
        });
    }

    // Sends, then takes `length` bytes of reply.
    async exchange(bytes, length, timeoutMs = 10000) {
        this.received = Buffer.alloc(0);
        this.socket.write(bytes);
        await until(`${length} reply bytes to ${JSON.stringify(bytes.toString('latin1'))}`,
                    () => this.received.length >= length || this.error, timeoutMs, 5);
        if (this.error)
            throw this.error;
        const reply = this.received.subarray(0, length);
        this.received = this.received.subarray(length);
        return reply;
    }

    close() {
        this.socket.destroy();
    }
}

// The window's glyphs of codes 32 to 126, read from the display's own source: seven rows of
// five dots per glyph, each row as a number (bit 4 the leftmost dot), two hex digits a row.
function windowFont() {
    const source = readFileSync(path.join(sourceRoot, 'widgets', 'lcdglyphs_5x7.cpp'), 'utf8');
    const from = source.indexOf('kAscii[]');
    const table = source.slice(from, source.indexOf('};', from));
    const glyphs = [];
    const pattern = /\{\s*(\d+),\s*"([.#|]+)"\}/g;
    let match;
    while ((match = pattern.exec(table)) !== null) {
        const rows = match[2].split('|').map((r) => parseInt(r.replace(/#/g, '1').replace(/\./g, '0'), 2));
        glyphs[Number(match[1]) - 32] = rows.map((v) => v.toString(16).padStart(2, '0')).join('');
    }
    return glyphs;
}

// What the window's display shows for a text, inside its frame: per pixel 'B' backlight,
// 'U' an unlit dot, 'L' a lit one. The frame's colours come from the desktop's palette and are
// not compared.
function expectedDisplay(text, font, size) {
    const rows = [];
    for (let y = 0; y < size.height; ++y)
        rows.push(new Array(size.width).fill('B'));
    for (let j = 0; j < 20; ++j) {
        const code = j < text.length ? text.charCodeAt(j) & 0xff : 32;
        const glyph = code >= 32 && code <= 126 ? font[code - 32] : null;
        const x0 = 4 + j * 15;
        for (let r = 0; r < 7; ++r) {
            const bits = glyph ? parseInt(glyph.substr(2 * r, 2), 16) : 0;
            for (let c = 0; c < 5; ++c) {
                const lit = (bits >> (4 - c)) & 1;
                for (let dy = 0; dy < 2; ++dy)
                    for (let dx = 0; dx < 2; ++dx)
                        rows[4 + r * 3 + dy][x0 + c * 3 + dx] = lit ? 'L' : 'U';
            }
        }
    }
    return rows;
}

const COLOURS = { B: [174, 240, 142], U: [226, 226, 226], L: [2, 2, 2] };

// Compares the page's display canvas with the window's rendering of `text`; returns a problem
// or null.
async function displayProblem(page, text, font) {
    const picture = await page.evaluate(() => {
        const canvas = document.getElementById('lcd');
        const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
        return { width: canvas.width, height: canvas.height, data: Array.from(data) };
    });
    if (picture.width !== 307 || picture.height !== 28)
        return `the display is ${picture.width} x ${picture.height} pixels, not 307 x 28 as the window's`;
    const expected = expectedDisplay(text, font, picture);
    for (let y = 1; y < picture.height - 1; ++y) {
        for (let x = 1; x < picture.width - 1; ++x) {
            const at = (y * picture.width + x) * 4;
            const want = COLOURS[expected[y][x]];
            const got = picture.data.slice(at, at + 3);
            if (got.some((v, i) => Math.abs(v - want[i]) > 1))
                return `display pixel (${x}, ${y}) of "${text}" is rgb(${got}), the window's is rgb(${want}) (${expected[y][x]})`;
        }
    }
    return null;
}

// A card picture's pixels' fingerprint, taken in the page: the one the page shows (null before
// the first), or with `token` the one the program holds now, fetched as the page fetches it.
function fingerprintInPage(page, token) {
    return page.evaluate(async (t) => {
        const img = document.getElementById('card');
        let picture = img;
        if (t !== null) {
            const response = await fetch('/api/card.png', { headers: { Authorization: 'Bearer ' + t }, cache: 'no-store' });
            picture = await createImageBitmap(await response.blob());
        } else if (img.hidden || !img.complete || !img.naturalWidth) {
            return null;
        }
        const canvas = document.createElement('canvas');
        canvas.width = picture.naturalWidth || picture.width;
        canvas.height = picture.naturalHeight || picture.height;
        const ctx = canvas.getContext('2d');
        ctx.drawImage(picture, 0, 0);
        const data = ctx.getImageData(0, 0, canvas.width, canvas.height).data;
        let hash = 2166136261;
        for (let i = 0; i < data.length; ++i)
            hash = Math.imul(hash ^ data[i], 16777619) >>> 0;
        return { hash, width: canvas.width, height: canvas.height, version: Number(img.dataset.version || 0) };
    }, token);
}

// The card picture as the page shows it, or null before the first.
function cardFingerprint(page) {
    return fingerprintInPage(page, null);
}

// The card picture the program holds now: its fingerprint's hash.
async function programCardFingerprint(page, token) {
    return (await fingerprintInPage(page, token)).hash;
}

// --- the run ------------------------------------------------------------------------------------

let child = null;
let browser = null;
let host = null;
let dataDir = null;
let stderrText = '';

async function cleanUp() {
    if (host)
        host.close();
    if (browser) {
        await Promise.race([browser.close().catch(() => {}), sleep(5000)]);
        try {
            browser.process()?.kill('SIGKILL');
        } catch (e) {
            // already gone
        }
    }
    await stopProgram();
    if (dataDir)
        rmSync(dataDir, { recursive: true, force: true });
}

// Starts the program on its own data folder, HTTP port `httpPort` (0: a free one); returns the
// match of the line that names the HTTP address once it is printed.
async function startProgram(token, httpPort) {
    const environment = Object.assign({}, process.env, { QT_QPA_PLATFORM: 'offscreen' });
    delete environment.VORLAK_HTTP_TOKEN;
    delete environment.VORLAK_CONTROL_TOKEN;
    stderrText += `--- ${program} started\n`;
    const from = stderrText.length;
    child = spawn(program, ['--headless', '--data-dir', dataDir, '--http-port', String(httpPort), '--http-token', token,
                            '--speed', String(SPEED)],
                  { env: environment, stdio: ['ignore', 'ignore', 'pipe'] });
    child.stderr.setEncoding('utf8');
    child.stderr.on('data', (text) => {
        stderrText += text;
    });
    let ended = null;
    child.once('exit', (code, signal) => {
        ended = { code, signal };
    });
    child.once('error', (e) => {
        stderrText += `\n(could not start ${program}: ${e.message})\n`;
        ended = ended || { error: e.message };
    });
    const listening = await until('the program to print its HTTP port on stderr', () => {
        if (ended)
            throw new CheckFailed(`the program ended at start (${JSON.stringify(ended)})`);
        return /HTTP listening on (\S+):(\d+)/.exec(stderrText.slice(from));
    }, 30000, 20);
    return listening;
}

async function stopProgram() {
    if (!child || child.exitCode !== null || child.signalCode !== null)
        return;
    const gone = new Promise((resolve) => child.once('exit', resolve));
    child.kill('SIGTERM');
    if (await Promise.race([gone.then(() => true), sleep(5000).then(() => false)]) === false) {
        child.kill('SIGKILL');
        await Promise.race([gone, sleep(2000)]);
    }
}

async function run() {
    const token = randomBytes(12).toString('hex');
    dataDir = mkdtempSync(path.join(os.tmpdir(), 'vorlak-livepage-'));
    // A free port may be taken by another process before the program listens on it; the
    // program then does not say it listens (its HTTP line comes after that one), and starts
    // again on another.
    let hostPort;
    let listening;
    for (let attempt = 1; ; ++attempt) {
        hostPort = await freePort();
        writeFileSync(path.join(dataDir, 'Vorlak.ini'), `[Setup]\nPort=${hostPort}\n`);
        const from = stderrText.length;
        listening = await startProgram(token, 0);
        if (stderrText.slice(from).includes(`host port listening on 0.0.0.0:${hostPort}\n`))
            break;
        if (attempt === 5)
            throw new CheckFailed(`the host port ${hostPort} could not be opened`);
        await stopProgram();
    }
    const httpPort = Number(listening[2]);
    const pageUrl = `http://127.0.0.1:${httpPort}/`;
    log(`program up: HTTP ${listening[1]}:${httpPort}, host port ${hostPort}`);

    // Root (CI) needs the sandbox off; the browser never leaves loopback.
    browser = await puppeteer.launch({
        executablePath: chromium,
        headless: true,
        args: ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage', '--no-first-run',
               '--no-default-browser-check', '--disable-extensions', '--window-size=1200,900'],
        defaultViewport: { width: 1200, height: 820 },
        timeout: 30000,
    });
    const page = await browser.newPage();
    const pageErrors = [];
    page.on('pageerror', (e) => pageErrors.push(e.message));
    page.setDefaultTimeout(15000);

    await page.goto(pageUrl, { waitUntil: 'domcontentloaded' });
    check(await page.title() === 'Corvane Embosser Simulator', `page title "${await page.title()}"`);

    // The program wants the token: the page asks for it and then connects.
    await page.waitForSelector('#token-form:not([hidden])', { visible: true });
    log('the page asks for the token');
    await page.type('#token-input', token);
    await page.click('#token-form button[type=submit]');
    await page.waitForSelector('#connection[data-state="open"]');
    check(await page.evaluate(() => sessionStorage.getItem('vorlak.httpToken')) === token,
          'the token is kept in the session storage');
    log('events connected');

    // The page's font is the window's.
    const font = windowFont();
    const pageFont = await page.evaluate(() => Array.from(window.vorlakPage.font));
    check(font.length === 95, `read ${font.length} glyphs from the window's table, not 95`);
    const differing = font.map((g, i) => (g === pageFont[i] ? null : String.fromCharCode(32 + i))).filter(Boolean);
    check(differing.length === 0, `the page draws these characters unlike the window: ${differing.join(' ')}`);

    // The page's reader of the event stream, however the bytes are cut into chunks.
    const streams = [
        // [name, chunks, expected events as "name=data"]
        ['one event', ['event: display\ndata: {"a":1}\n\n'], ['display={"a":1}']],
        ['CR LF split between chunks', ['event: strike\r', '\ndata: 1\r\n\r', '\n'], ['strike=1']],
        ['lone CR line ends', ['event: x\rdata: 2\r\r'], ['x=2']],
        ['CR at a chunk end, then an empty chunk', ['event: a\r', '', '\ndata: 1\r', '\r\n'], ['a=1']],
        ['keep-alive comments', [': keep-alive\n\n', 'event: y\n: inside\ndata: 3\n\n'], ['y=3']],
        ['several data lines', ['data: a\ndata:b\n\n'], ['message=a\nb']],
        ['no event without data', ['event: z\n\n', 'event: w\ndata: 4\n\n'], ['w=4']],
        ['cut in the middle of a field', ['ev', 'ent: tr', 'affic\nda', 'ta: {"t":"#431#5"}', '\n', '\n'],
         ['traffic={"t":"#431#5"}']],
        ['unfinished event waits', ['event: a\ndata: 5\n'], []],
        ['two events in one chunk', ['event: a\ndata: 1\n\nevent: b\ndata: 2\n\n'], ['a=1', 'b=2']],
    ];
    const parsed = await page.evaluate((cases) => cases.map(([, chunks]) => {
        const events = [];
        const parser = new window.vorlakPage.EventStreamParser((name, data) => events.push(name + '=' + data));
        chunks.forEach((c) => parser.push(c));
        return events;
    }), streams);
    streams.forEach(([name, , expected], i) => check(JSON.stringify(parsed[i]) === JSON.stringify(expected),
        `event stream "${name}": read ${JSON.stringify(parsed[i])}, not ${JSON.stringify(expected)}`));

    const displayText = () => page.$eval('#display-text', (e) => e.textContent);
    await until('"POWERED ON" on the page\'s display', async () => (await displayText()) === 'POWERED ON', 10000);
    let problem = await displayProblem(page, 'POWERED ON', font);
    check(!problem, problem);

    // Every text the page's display shows, in order.
    await page.evaluate(() => {
        const text = document.getElementById('display-text');
        window.shownTexts = [text.textContent];
        new MutationObserver(() => window.shownTexts.push(text.textContent))
            .observe(text, { childList: true, characterData: true, subtree: true });
    });
    const shownSince = async (from) => (await page.evaluate(() => window.shownTexts)).slice(from);
    const shownCount = async () => (await page.evaluate(() => window.shownTexts.length));

    // Clear: the sequence ends with READY.
    await page.click('#btn-clear');
    await until('"READY" after Clear', async () => (await displayText()) === 'READY', 15000);
    problem = await displayProblem(page, 'READY', font);
    check(!problem, problem);
    check(JSON.stringify(await shownSince(0)) === JSON.stringify(['POWERED ON', 'IN RESET', 'READY']),
          `the display showed ${JSON.stringify(await shownSince(0))} for Clear`);
    log('Clear pressed; the display shows READY');

    // A fault switch in the page reaches the machine, and the poll's reply reaches the page.
    host = new Host(hostPort);
    await host.ready;
    await page.click('#fault-feeder_empty');
    await until('the feeder-empty fault to reach the machine', async () => {
        const reply = await host.exchange(POLL, 2);
        if (reply.equals(ACK('3'))) {
            const rest = FEEDER_EMPTY_REPLY.length - 2;
            await until('the rest of the fault reply', () => host.received.length >= rest, 5000, 5);
            host.received = Buffer.alloc(0);
            return true;
        }
        return false;
    }, 5000, 50);
    await until('the status row to show the FEEDER EMPTY reply', async () => {
        const hex = await page.$eval('#status-hex', (e) => e.textContent);
        return hex.startsWith('06 33 02') && (await page.$eval('#status-display', (e) => e.textContent)) === 'FEEDER EMPTY';
    }, 5000);
    await page.click('#fault-feeder_empty');
    await until('READY once the fault is off', async () => (await host.exchange(POLL, 2)).equals(ACK('1')), 5000, 50);
    await until('the status row to show READY', async () =>
        (await page.$eval('#status-hex', (e) => e.textContent)) === '06 31', 5000);
    await until('the poll and its replies in the monitor', async () =>
        (await page.$eval('#rx-log', (e) => e.textContent)).includes('#431#5') &&
        (await page.$eval('#tx-log', (e) => e.textContent)).includes('#63#2E82        FEEDER EMPTY#3 #61 '), 5000);
    check(!(await page.$eval('#fault-feeder_empty', (e) => e.checked)), 'the check box is clear again');
    log('fault switch, status row and monitor follow the machine');

    // Pause holds the machine and a second Pause lets it go; Reset runs its sequence.
    await page.click('#btn-pause');
    await until('PAUSED in the reply after Pause', async () => (await host.exchange(POLL, 2)).equals(ACK('W')), 5000, 50);
    await until('"PAUSE" on the page', async () => (await displayText()) === 'PAUSE', 5000);
    await page.click('#btn-pause');
    await until('READY after the second Pause', async () => (await host.exchange(POLL, 2)).equals(ACK('1')), 5000, 50);
    const beforeReset = await shownCount();
    await page.click('#btn-reset');
    await until('"IN RESET", then "READY" after Reset', async () =>
        JSON.stringify((await shownSince(beforeReset)).slice(-2)) === '["IN RESET","READY"]', 10000);
    log('Pause and Reset pressed');

    // A format, then a long job: 8 lines of 30 characters, 240 strikes.
    const lines = [];
    for (let i = 0; i < 8; ++i)
        lines.push('ABCDEFGHIJKLMNOPQRSTUVWXYZ0123'.slice(i) + '0123456789'.slice(0, i));
    check((await host.exchange(formatMessage(lines.length), 2)).equals(ACK('2')), 'the format is acknowledged');
    await until('the machine to take the format', async () => (await host.exchange(POLL, 2)).equals(ACK('1')), 10000, 20);

    // The blank card before the job, as the program has it and the page shows it.
    const blank = await programCardFingerprint(page, token);
    const before = await until('the page to show the blank card', async () => {
        const shown = await cardFingerprint(page);
        return shown && shown.hash === blank ? shown : null;
    }, 10000);
    log(`card picture ${before.width} x ${before.height}`);

    const jobSent = Date.now();
    check((await host.exchange(embossMessage(lines, 'LIVE1'), 2)).equals(ACK('2')), 'the emboss data is acknowledged');

    // While the job strikes, the page's card picture changes.
    const during = await until('the card picture to change during the job', async () => {
        const now = await cardFingerprint(page);
        return now && now.hash !== before.hash ? now : null;
    }, 10000, 20);
    log(`card changed ${Date.now() - jobSent} ms after the job was sent`);
    // A few more strikes for the screenshot (the job takes some 2 s more).
    await sleep(400);
    const running = await page.evaluate(() => document.body.dataset.jobRunning);
    const shownDuring = await displayText();
    await page.screenshot({ path: screenshotPath, fullPage: true });
    check(shownDuring === 'BUSY', `the display shows "${shownDuring}" during the job, not BUSY`);
    check(running === 'true', 'the page knows a job runs');
    log(`screenshot during the job: ${screenshotPath}`);

    // The job ends; the page's picture ends as the program's card, glyphs and all.
    await until('the end of the job', async () =>
        (await page.evaluate(() => document.body.dataset.jobRunning)) === 'false', 60000, 50);
    const jobMs = Date.now() - jobSent;
    const final = await until('the page to show the finished card', async () => {
        const shown = await cardFingerprint(page);
        const program = await programCardFingerprint(page, token);
        return shown && shown.hash === program && shown.hash !== during.hash ? shown : null;
    }, 10000, 100);
    log(`job over after ${jobMs} ms; the page fetched the card ${final.version - before.version} times during it`);

    // The status bar as the window's: the host, the job's tag.
    await until('the status bar to show the host and the job\'s tag', () => page.evaluate(() =>
        document.getElementById('panel-0').textContent === 'Host connected' &&
        document.getElementById('panel-3').textContent === 'LIVE1'), 5000);

    // The machine answers READY again, and the page shows it.
    await until('READY after the job', async () => (await host.exchange(POLL, 2)).equals(ACK('1')), 10000, 50);
    await until('READY on the page after the job', async () => (await displayText()) === 'READY', 5000);

    // A reload keeps the token for the session: no form this time.
    await page.reload({ waitUntil: 'domcontentloaded' });
    await page.waitForSelector('#connection[data-state="open"]');
    check(await page.$eval('#token-form', (e) => e.hidden), 'no token form after a reload in the same session');
    await until('the display after the reload', async () => (await displayText()) === 'READY', 5000);

    // The program goes away and comes back on the same port: the page says so, connects again
    // and shows the new machine's state.
    host.close();
    host = null;
    await stopProgram();
    await page.waitForSelector('#connection[data-state="closed"]');
    log('program ended; the page shows the lost connection');
    listening = await startProgram(token, httpPort);
    await page.waitForSelector('#connection[data-state="open"]', { timeout: 20000 });
    await until('"POWERED ON" from the new program', async () => (await displayText()) === 'POWERED ON', 5000);
    log('program restarted; the page connected again');

    check(pageErrors.length === 0, 'errors in the page: ' + pageErrors.join('; '));
}

const overall = setTimeout(async () => {
    console.error(`FAIL: the whole test took longer than ${OVERALL_TIMEOUT_MS / 1000} s`);
    if (stderrText)
        console.error('program stderr:\n' + stderrText);
    await Promise.race([cleanUp(), sleep(10000)]);
    process.exit(1);
}, OVERALL_TIMEOUT_MS);

let status = 0;
try {
    await run();
    log('all checks passed');
    console.log('1 passed, 0 failed');
} catch (e) {
    status = 1;
    console.error('FAIL: ' + (e instanceof CheckFailed ? e.message : e.stack || e));
    if (stderrText)
        console.error('program stderr:\n' + stderrText.trimEnd());
    console.log('0 passed, 1 failed');
} finally {
    await Promise.race([cleanUp(), sleep(15000)]);
    clearTimeout(overall);
}
process.exit(status);
