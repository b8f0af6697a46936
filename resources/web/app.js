// The live page: shows what the simulator shows in its window (the display, the card, the
// status bar, the fault switches, the monitor) from the program's HTTP interface, and works
// its buttons and fault switches. No framework; everything the page needs is in this file.
'use strict';

(function () {
    // --- the dot-matrix display ---------------------------------------------------------------

    // The window's display: one line of 20 cells of 5 x 7 dots, each dot 2 x 2 pixels, one pixel
    // between dots and between cells, 3 pixels between the frame and the cells, a lowered frame
    // of one pixel: 307 x 28 pixels.
    const LCD = Object.freeze({
        lines: 1,
        chars: 20,
        dotsAcross: 5,
        dotsDown: 7,
        dot: 2,
        dotSpacing: 1,
        charSpacing: 1,
        lineSpacing: 1,
        borderSpace: 3,
        backlight: 'rgb(174, 240, 142)',
        unlit: 'rgb(226, 226, 226)',
        // Lit dots: the unlit colour scaled by (257 - 255) / 256, the window's contrast 255.
        lit: 'rgb(2, 2, 2)',
        // The lowered frame: highlight on the right and bottom edges, shadow on top and left.
        highlight: 'rgb(255, 255, 255)',
        shadow: 'rgb(160, 160, 160)',
    });
    const CELL_W = LCD.dotsAcross * LCD.dot + (LCD.dotsAcross - 1) * LCD.dotSpacing;
    const CELL_H = LCD.dotsDown * LCD.dot + (LCD.dotsDown - 1) * LCD.dotSpacing;
    const LCD_W = LCD.chars * CELL_W + (LCD.chars - 1) * LCD.charSpacing + 2 * LCD.borderSpace + 2;
    const LCD_H = LCD.lines * CELL_H + (LCD.lines - 1) * LCD.lineSpacing + 2 * LCD.borderSpace + 2;

    // The glyphs of codes 32 to 126, the same as the window's display draws: seven rows from
    // the top, each two hex digits, bit 4 the leftmost dot.
    const FONT_FIRST = 32;
    const FONT = Object.freeze([
        '00000000000000', '04040404040004', '0a0a0a00000000', '0a0a1f0a1f0a0a', '040f140e051e04', '18190204081303',
        '0c12140815120d', '0c040800000000', '02040808080402', '08040202020408', '0004150e150400', '0004041f040400',
        '000000000c0408', '0000001f000000', '00000000000c0c', '00010204081000', '0e11131519110e', '040c040404040e',
        '0e11010204081f', '1f02040201110e', '02060a121f0202', '1f101e0101110e', '0608101e11110e', '1f010204080808',
        '0e11110e11110e', '0e11110f01020c', '000c0c000c0c00', '000c0c000c0408', '02040810080402', '00001f001f0000',
        '08040201020408', '0e110102040004', '0e11010d15150e', '0e1111111f1111', '1e11111e11111e', '0e11101010110e',
        '1c12111111121c', '1f10101e10101f', '1f10101e101010', '0e11101711110f', '1111111f111111', '0e04040404040e',
        '0702020202120c', '11121418141211', '1010101010101f', '111b1515111111', '11111915131111', '0e11111111110e',
        '1e11111e101010', '0e11111115120d', '1e11111e141211', '0f10100e01011e', '1f040404040404', '1111111111110e',
        '11111111110a04', '1111111515150a', '11110a040a1111', '1111110a040404', '1f01020408101f', '0e08080808080e',
        '00100804020100', '0e02020202020e', '040a1100000000', '0000000000001f', '08040200000000', '00000e010f110f',
        '1010161911111e', '00000e1010110e', '01010d1311110f', '00000e111f100e', '0609081c080808', '000f11110f010e',
        '10101619111111', '04000c0404040e', '0200060202120c', '10101214181412', '0c04040404040e', '00001a15151111',
        '00001619111111', '00000e1111110e', '00001e111e1010', '00000d130f0101', '00001619101010', '00000e100e011e',
        '08081c08080906', '0000111111130d', '00001111110a04', '0000111115150a', '0000110a040a11', '000011110f010e',
        '00001f0204081f', '02040408040402', '04040404040404', '08040402040408', '00000815020000',
    ]);

    // The row bits of a glyph code, or null for a code the display has no glyph for (it shows
    // a blank cell).
    function glyphRows(code) {
        const hex = FONT[code - FONT_FIRST];
        if (hex === undefined)
            return null;
        const rows = [];
        for (let r = 0; r < LCD.dotsDown; ++r)
            rows.push(parseInt(hex.substr(2 * r, 2), 16));
        return rows;
    }

    // The glyph codes of one display line: the low 8 bits of each character; a missing
    // character, and everything from a character of code 0 on, is a blank.
    function cellCodes(line) {
        const codes = [];
        let ended = false;
        for (let j = 0; j < LCD.chars; ++j) {
            const code = !ended && j < line.length ? line.charCodeAt(j) & 0xff : 32;
            if (code === 0)
                ended = true;
            codes.push(ended ? 32 : code);
        }
        return codes;
    }

    function drawDisplay(canvas, text) {
        if (canvas.width !== LCD_W || canvas.height !== LCD_H) {
            canvas.width = LCD_W;
            canvas.height = LCD_H;
        }
        const ctx = canvas.getContext('2d');
        ctx.imageSmoothingEnabled = false;
        ctx.fillStyle = LCD.backlight;
        ctx.fillRect(0, 0, LCD_W, LCD_H);
        // Right and bottom edges first, then top and left: the top-right corner takes the
        // shadow, the bottom-left one the highlight.
        ctx.fillStyle = LCD.highlight;
        ctx.fillRect(LCD_W - 1, 0, 1, LCD_H);
        ctx.fillRect(0, LCD_H - 1, LCD_W, 1);
        ctx.fillStyle = LCD.shadow;
        ctx.fillRect(0, 0, LCD_W, 1);
        ctx.fillRect(0, 0, 1, LCD_H - 1);

        const lines = String(text).split(/\r\n|\n|\r/);
        const step = LCD.dot + LCD.dotSpacing;
        for (let i = 0; i < LCD.lines; ++i) {
            const codes = cellCodes(lines[i] || '');
            for (let j = 0; j < LCD.chars; ++j) {
                const x = LCD.borderSpace + 1 + j * (CELL_W + LCD.charSpacing);
                const y = LCD.borderSpace + 1 + i * (CELL_H + LCD.lineSpacing);
                const rows = codes[j] === 32 ? null : glyphRows(codes[j]);
                for (let r = 0; r < LCD.dotsDown; ++r) {
                    for (let c = 0; c < LCD.dotsAcross; ++c) {
                        const on = rows !== null && (rows[r] >> (LCD.dotsAcross - 1 - c)) & 1;
                        ctx.fillStyle = on ? LCD.lit : LCD.unlit;
                        ctx.fillRect(x + c * step, y + r * step, LCD.dot, LCD.dot);
                    }
                }
            }
        }
    }

    // --- page elements ------------------------------------------------------------------------

    const $ = (id) => document.getElementById(id);
    const el = {
        lcd: $('lcd'),
        displayText: $('display-text'),
        card: $('card'),
        connection: $('connection'),
        connectionText: $('connection-text'),
        statusHex: $('status-hex'),
        statusDisplay: $('status-display'),
        lastError: $('last-error'),
        rxLog: $('rx-log'),
        txLog: $('tx-log'),
        tokenForm: $('token-form'),
        tokenInput: $('token-input'),
        tokenReason: $('token-reason'),
        panels: [0, 1, 2, 3, 4].map((i) => $('panel-' + i)),
        faults: Array.from(document.querySelectorAll('input[data-fault]')),
        buttons: Array.from(document.querySelectorAll('button[data-button]')),
    };

    // --- the token and the API ----------------------------------------------------------------

    const TOKEN_KEY = 'vorlak.httpToken';
    let tokenWaiters = [];
    // Where the browser keeps no session storage, the token lasts until the page reloads.
    let memoryToken = '';

    function storedToken() {
        try {
            return sessionStorage.getItem(TOKEN_KEY) || memoryToken;
        } catch (e) {
            return memoryToken;
        }
    }

    function authHeaders(extra) {
        const headers = Object.assign({}, extra || {});
        const token = storedToken();
        if (token)
            headers.Authorization = 'Bearer ' + token;
        return headers;
    }

    class Unauthorized extends Error {}

    let tokenNeeded = false;

    // Shows the token form (once); the page asks the API nothing more until a token is entered.
    function showTokenForm() {
        tokenNeeded = true;
        if (el.tokenForm.hidden) {
            el.tokenReason.textContent = storedToken()
                ? 'Das Token wurde abgelehnt. Bitte das Zugangs-Token des Simulators eingeben.'
                : 'Der Simulator verlangt ein Zugangs-Token.';
            el.tokenForm.hidden = false;
            el.tokenInput.value = '';
            el.tokenInput.focus();
        }
        setConnection('token');
    }

    // Resolves once a token was entered.
    function tokenEntered() {
        return new Promise((resolve) => tokenWaiters.push(resolve));
    }

    el.tokenForm.addEventListener('submit', (event) => {
        event.preventDefault();
        const token = el.tokenInput.value.trim();
        if (!token)
            return;
        memoryToken = token;
        try {
            sessionStorage.setItem(TOKEN_KEY, token);
        } catch (e) {
            // kept in memoryToken only
        }
        el.tokenForm.hidden = true;
        tokenNeeded = false;
        const waiters = tokenWaiters;
        tokenWaiters = [];
        waiters.forEach((resolve) => resolve());
        requestState(true);
        refreshCard();
    });
    async function apiFetch(path, options) {
        const opts = Object.assign({ cache: 'no-store' }, options || {});
        opts.headers = authHeaders(opts.headers);
        const response = await fetch(path, opts);
        if (response.status === 401) {
            showTokenForm();
            throw new Unauthorized('401');
        }
        return response;
    }

    async function command(request) {
        const response = await apiFetch('/api/command', {
            method: 'POST',
            headers: { 'Content-Type': 'application/json' },
            body: JSON.stringify(request),
        });
        let reply = null;
        try {
            reply = await response.json();
        } catch (e) {
            throw new Error('HTTP ' + response.status);
        }
        if (!response.ok || !reply || reply.ok === false)
            throw new Error((reply && reply.error) || 'HTTP ' + response.status);
        return reply;
    }

    let problemIsErrorBox = false;

    function showProblem(text) {
        problemIsErrorBox = false;
        el.lastError.hidden = !text;
        el.lastError.textContent = text || '';
    }

    // The program's open error box, while it is open.
    function showErrorBox(text) {
        if (text) {
            showProblem('Fehlermeldung: ' + text);
            problemIsErrorBox = true;
        } else if (problemIsErrorBox) {
            showProblem('');
        }
    }

    // --- what the page shows ------------------------------------------------------------------

    let displayText = null;
    let displayEvents = 0; // display texts taken from events, to keep older snapshots out

    function showDisplay(text) {
        text = String(text);
        if (text === displayText)
            return;
        displayText = text;
        drawDisplay(el.lcd, text);
        el.displayText.textContent = text;
        el.lcd.setAttribute('aria-label', text);
    }

    // The last status reply, shown once per frame however many polls a host sends.
    let statusEvents = 0;
    let statusShown = null;
    let statusFrame = 0;
    function showStatus(status) {
        if (!status)
            return;
        statusShown = status;
        if (!statusFrame)
            statusFrame = requestAnimationFrame(() => {
                statusFrame = 0;
                const hex = String(statusShown.reply_hex || '');
                const display = String(statusShown.display || '');
                if (el.statusHex.textContent !== hex)
                    el.statusHex.textContent = hex;
                if (el.statusDisplay.textContent !== display)
                    el.statusDisplay.textContent = display;
            });
    }

    function setConnection(state, retryMs) {
        el.connection.dataset.state = state;
        const texts = {
            connecting: 'Verbinde ...',
            open: 'Verbunden',
            closed: 'Getrennt' + (retryMs ? ', neuer Versuch in ' + Math.round(retryMs / 1000) + ' s' : ''),
            token: 'Token nötig',
        };
        el.connectionText.textContent = texts[state] || state;
    }

    let jobEvents = 0;
    function setJobRunning(running) {
        document.body.dataset.jobRunning = running ? 'true' : 'false';
    }

    // --- the card picture ---------------------------------------------------------------------

    // Runs the async `task` one at a time and at most once every `gapMs`; asked again while it
    // runs or waits, it runs once more afterwards, so the last ask always has its run.
    function throttled(gapMs, task) {
        let inFlight = false;
        let again = false;
        let timer = null;
        let lastStart = 0;
        return function ask() {
            if (inFlight || timer) {
                again = true;
                return;
            }
            const wait = lastStart + gapMs - Date.now();
            if (wait > 0) {
                timer = setTimeout(() => {
                    timer = null;
                    ask();
                }, wait);
                return;
            }
            inFlight = true;
            again = false;
            lastStart = Date.now();
            (async () => {
                try {
                    await task();
                } finally {
                    inFlight = false;
                    if (again)
                        ask();
                }
            })();
        };
    }

    // At most one picture on its way, and at most one every CARD_GAP_MS (each costs the program
    // a PNG); strikes meanwhile ask for one more fetch after it, so the last strike always shows.
    const CARD_GAP_MS = 50;
    const card = { url: null, version: 0 };
    const refreshCard = throttled(CARD_GAP_MS, fetchCard);

    async function fetchCard() {
        try {
            const response = await apiFetch('/api/card.png');
            if (!response.ok)
                throw new Error('HTTP ' + response.status);
            const blob = await response.blob();
            const url = URL.createObjectURL(blob);
            el.card.src = url;
            try {
                await el.card.decode();
            } catch (e) {
                // A picture that does not decode leaves the broken image in place.
            }
            el.card.hidden = false;
            if (card.url)
                URL.revokeObjectURL(card.url);
            card.url = url;
            el.card.dataset.version = String(++card.version);
        } catch (e) {
            // The next strike or (re)connect tries again.
        }
    }

    // --- the state: flags, panels, fault switches ---------------------------------------------

    const STATE_GAP_MS = 250;
    let snapshotWanted = false;
    const askState = throttled(STATE_GAP_MS, fetchState);
    let faultChanges = 0; // operator changes of the fault switches, to keep older snapshots out
    const faultsInFlight = new Set();

    // Asks for the state, at most every STATE_GAP_MS and one request at a time. A snapshot
    // round also takes the display text and status row from it (after a (re)connect or left
    // out events), unless an event brought a newer one meanwhile.
    function requestState(snapshot) {
        if (snapshot)
            snapshotWanted = true;
        if (!tokenNeeded)
            askState();
    }

    async function fetchState() {
        if (tokenNeeded)
            return;
        const snapshot = snapshotWanted;
        snapshotWanted = false;
        const displaysBefore = displayEvents;
        const statusesBefore = statusEvents;
        const faultsBefore = faultChanges;
        const jobsBefore = jobEvents;
        try {
            const response = await apiFetch('/api/state');
            const state = await response.json();
            if (!response.ok || state.ok === false)
                throw new Error(state.error || 'HTTP ' + response.status);
            if (snapshot && displayEvents === displaysBefore && typeof state.display === 'string')
                showDisplay(state.display.split('\n')[0]);
            if (snapshot && statusEvents === statusesBefore)
                showStatus(state.status);
            if (Array.isArray(state.panels))
                state.panels.forEach((text, i) => {
                    if (el.panels[i] && el.panels[i].textContent !== String(text))
                        el.panels[i].textContent = String(text);
                });
            if (state.faults && faultChanges === faultsBefore)
                showFaults(state.faults);
            if (jobEvents === jobsBefore)
                setJobRunning(state.job_running === true);
            showErrorBox(state.error_box);
        } catch (e) {
            if (snapshot)
                snapshotWanted = true;
        }
    }

    function showFaults(faults) {
        for (const box of el.faults) {
            const name = box.dataset.fault;
            if (typeof faults[name] === 'boolean' && !faultsInFlight.has(name))
                box.checked = faults[name];
        }
    }

    for (const box of el.faults) {
        box.addEventListener('change', async () => {
            const name = box.dataset.fault;
            const on = box.checked;
            ++faultChanges;
            faultsInFlight.add(name);
            try {
                const reply = await command({ cmd: 'set_fault', fault: name, on: on });
                faultsInFlight.delete(name);
                if (reply.faults)
                    showFaults(reply.faults);
            } catch (e) {
                faultsInFlight.delete(name);
                box.checked = !on;
                if (!(e instanceof Unauthorized))
                    showProblem('Schalter nicht gesetzt: ' + e.message);
            }
            requestState();
        });
    }

    for (const button of el.buttons) {
        button.addEventListener('click', async () => {
            try {
                await command({ cmd: 'press', button: button.dataset.button });
            } catch (e) {
                if (!(e instanceof Unauthorized))
                    showProblem('Taste nicht gedrückt: ' + e.message);
            }
            requestState();
        });
    }

    // --- the monitor --------------------------------------------------------------------------

    const TRAFFIC_LINES = 200;
    const traffic = {
        received: { lines: [], view: el.rxLog },
        sent: { lines: [], view: el.txLog },
    };
    let trafficFrame = 0;

    function addTraffic(dir, text) {
        const side = traffic[dir];
        if (!side || typeof text !== 'string')
            return;
        side.lines.push(text);
        if (side.lines.length > TRAFFIC_LINES)
            side.lines.splice(0, side.lines.length - TRAFFIC_LINES);
        side.dirty = true;
        if (!trafficFrame)
            trafficFrame = requestAnimationFrame(showTraffic);
    }

    // Once per frame however much came: the window's monitor shows the text as one string
    // wrapped at the field's width, and follows the end while the end is in view.
    function showTraffic() {
        trafficFrame = 0;
        for (const side of Object.values(traffic)) {
            if (!side.dirty)
                continue;
            side.dirty = false;
            const view = side.view;
            const atEnd = view.scrollTop + view.clientHeight >= view.scrollHeight - 4;
            view.textContent = side.lines.join('');
            if (atEnd)
                view.scrollTop = view.scrollHeight;
        }
    }

    // --- events -------------------------------------------------------------------------------

    // Reads a text/event-stream: "event:" and "data:" fields, a blank line ends an event,
    // lines starting with ':' are comments. Lines end with CR LF, LF or CR.
    class EventStreamParser {
        constructor(onEvent) {
            this.onEvent = onEvent;
            this.buffer = '';
            this.name = '';
            this.data = [];
            this.afterCR = false;
            this.scanned = 0;
        }

        push(chunk) {
            if (!chunk)
                return;
            // A CR that ended the last chunk may have been the first half of CR LF.
            if (this.afterCR && chunk[0] === '\n')
                chunk = chunk.slice(1);
            this.afterCR = false;
            this.buffer += chunk;
            let start = 0;
            // The unfinished line kept from the last chunk holds no line end: not searched again.
            let end = this.scanned;
            for (;;) {
                while (end < this.buffer.length && this.buffer[end] !== '\n' && this.buffer[end] !== '\r')
                    ++end;
                if (end >= this.buffer.length)
                    break;
                let next = end + 1;
                if (this.buffer[end] === '\r') {
                    if (next >= this.buffer.length)
                        this.afterCR = true;
                    else if (this.buffer[next] === '\n')
                        ++next;
                }
                this.line(this.buffer.slice(start, end));
                start = end = next;
            }
            this.buffer = this.buffer.slice(start);
            this.scanned = this.buffer.length;
        }

        line(line) {
            if (line === '') {
                if (this.data.length)
                    this.onEvent(this.name || 'message', this.data.join('\n'));
                this.name = '';
                this.data = [];
                return;
            }
            if (line[0] === ':')
                return;
            const colon = line.indexOf(':');
            const field = colon < 0 ? line : line.slice(0, colon);
            let value = colon < 0 ? '' : line.slice(colon + 1);
            if (value[0] === ' ')
                value = value.slice(1);
            if (field === 'event')
                this.name = value;
            else if (field === 'data')
                this.data.push(value);
        }
    }

    function onEvent(name, data) {
        let payload;
        try {
            payload = JSON.parse(data);
        } catch (e) {
            return;
        }
        if (payload === null || typeof payload !== 'object')
            return;
        switch (name) {
        case 'display':
            ++displayEvents;
            showDisplay(String(payload.display || '').split('\n')[0]);
            // Every message from the host shows BUSY first, and a message may wipe the card or
            // give it a new size: the picture is fetched once the message has been handled.
            refreshCard();
            requestState();
            break;
        case 'status':
            ++statusEvents;
            showStatus(payload);
            requestState();
            break;
        case 'strike':
            refreshCard();
            break;
        case 'card_erased':
            refreshCard();
            break;
        case 'job_start':
            ++jobEvents;
            setJobRunning(true);
            // The job's tag, as the status bar shows it, without waiting for the next state.
            if (typeof payload.tag === 'string')
                el.panels[3].textContent = payload.tag;
            requestState();
            break;
        case 'job_end':
            ++jobEvents;
            setJobRunning(false);
            refreshCard();
            requestState();
            break;
        case 'traffic':
            addTraffic(payload.dir, payload.text);
            break;
        case 'error':
            showProblem('Fehlermeldung' + (payload.time ? ' (' + payload.time + ')' : '') + ': ' + payload.text);
            requestState();
            break;
        case 'dropped':
            // Events were left out: take everything afresh.
            requestState(true);
            refreshCard();
            break;
        default:
            break;
        }
    }

    const RETRY_FIRST_MS = 1000;
    const RETRY_MAX_MS = 10000;
    // A stream that brings nothing, not even a keep-alive, for this long is taken as lost.
    const STALL_MS = 45000;

    const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

    async function followEvents() {
        let retry = RETRY_FIRST_MS;
        for (;;) {
            setConnection('connecting');
            const controller = new AbortController();
            let stall = 0;
            const watch = () => {
                clearTimeout(stall);
                stall = setTimeout(() => controller.abort(), STALL_MS);
            };
            try {
                watch();
                const response = await fetch('/api/events', {
                    headers: authHeaders({ Accept: 'text/event-stream' }),
                    cache: 'no-store',
                    signal: controller.signal,
                });
                if (response.status === 401) {
                    clearTimeout(stall);
                    showTokenForm();
                    await tokenEntered();
                    continue;
                }
                if (!response.ok || !response.body)
                    throw new Error('HTTP ' + response.status);
                setConnection('open');
                retry = RETRY_FIRST_MS;
                // What happened while the page was not listening.
                requestState(true);
                refreshCard();
                const parser = new EventStreamParser(onEvent);
                const reader = response.body.getReader();
                const decoder = new TextDecoder('utf-8');
                for (;;) {
                    const { value, done } = await reader.read();
                    if (done)
                        break;
                    watch();
                    parser.push(decoder.decode(value, { stream: true }));
                }
            } catch (e) {
                // Dropped, refused or stalled: try again below.
            } finally {
                clearTimeout(stall);
                controller.abort();
            }
            setConnection('closed', retry);
            await sleep(retry);
            retry = Math.min(retry * 2, RETRY_MAX_MS);
        }
    }

    // For the page's own tests: the display's font and geometry and the event stream's reader
    // (nothing that changes what the page shows).
    window.vorlakPage = Object.freeze({
        lcd: LCD,
        lcdSize: Object.freeze({ width: LCD_W, height: LCD_H }),
        fontFirstCode: FONT_FIRST,
        font: FONT,
        EventStreamParser: EventStreamParser,
    });

    // --- start --------------------------------------------------------------------------------

    drawDisplay(el.lcd, '');
    setInterval(() => requestState(), 1000);
    followEvents();
})();
