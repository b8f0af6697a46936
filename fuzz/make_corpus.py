#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into corpus/<target>/: the protocol's real
messages (polls, reset requests, format definitions, emboss data), real settings files and
real control port sessions.
Run it again after changing a seed; the files are committed."""
import json
import os

HERE = os.path.dirname(os.path.abspath(__file__))
SOH, STX, ETX, EOT, ENQ = b"\x01", b"\x02", b"\x03", b"\x04", b"\x05"
POLL = EOT + b"31" + ENQ
RESET = EOT + b"31r"


def record(y, x, font, pitch, blank_in_front=False):
    body = b"Y" + y + b"X" + x + b"F" + font + b"P0" + pitch
    return b" " + body if blank_in_front else body + b" "


def card_block(height=b"0540", width=b"0856"):
    return b"H:" + height + b"W:" + width


def format_definition(records, block=None):
    return SOH + b"31" + STX + b"F]00 U0 " + (block or card_block()) + b"".join(records) + ETX


def emboss_data(text, tag=b"12345"):
    return SOH + b"31" + STX + b"T]00" + text + b"@" + tag + ETX


FORMAT2 = format_definition([record(b"085", b"120", b"0", b"14"), record(b"226", b"120", b"1", b"35")])
FORMAT4 = format_definition([record(b"%03d" % (100 + 70 * i), b"050", b"0", b"14") for i in range(4)])
FORMAT51 = format_definition([record(b"%03d" % (i * 9 % 999), b"%03d" % (i * 17 % 999), b"%d" % (i % 3), b"14")
                              for i in range(53)])
EMBOSS2 = emboss_data(b"AB\r\nCD\r\n")
EMBOSS_LONG = emboss_data(b"\r\n".join(b"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"[i:] for i in range(4)) + b"\r\n")
EMBOSS60 = emboss_data(b"\r\n".join(b"L%02d" % i for i in range(60)))


def steps(*items):
    """Dispatcher input: chunks (bytes) become length-prefixed steps; ints are action bytes."""
    out = b""
    for item in items:
        if isinstance(item, int):
            out += bytes([item])
        else:
            while True:
                piece, item = item[:0xEF], item[0xEF:]
                out += bytes([len(piece)]) + piece
                if not item:
                    break
    return out


PAUSE, CLEAR, RESET_BUTTON, FEEDER, MISFEED, YMOTOR, XMOTOR, CLOSE = range(0xF0, 0xF8)

DISPATCHER = {
    "poll": steps(POLL),
    "poll_in_two_chunks": steps(EOT + b"3", b"1" + ENQ),
    "stray_letters_then_poll": steps(b"abc" + POLL),
    "reset_request": steps(CLEAR, POLL, RESET, POLL),
    "reset_request_with_tail": steps(RESET + b"x" + POLL),
    "faults": steps(CLEAR, FEEDER, POLL, MISFEED, XMOTOR, POLL, FEEDER, MISFEED, POLL, YMOTOR, POLL),
    "pause_and_poll": steps(PAUSE, FEEDER, POLL, PAUSE, POLL),
    "format_then_job": steps(CLEAR, FORMAT2, POLL, EMBOSS2, POLL, POLL),
    "job_with_polls_between": steps(CLEAR, FORMAT4, EMBOSS_LONG, POLL, POLL, POLL, POLL),
    "job_paused_and_cleared": steps(CLEAR, FORMAT4, EMBOSS_LONG, POLL, PAUSE, POLL, CLEAR, CLEAR, PAUSE, POLL),
    "job_reset": steps(CLEAR, FORMAT4, EMBOSS_LONG, POLL, RESET_BUTTON, POLL),
    "message_in_pieces": steps(*[FORMAT2[i:i + 7] for i in range(0, len(FORMAT2), 7)], POLL),
    "poll_inside_message": steps(FORMAT2[:20] + POLL + FORMAT2[20:], POLL),
    "emboss_without_format": steps(EMBOSS2, POLL),
    "lines_beyond_format": steps(FORMAT2, emboss_data(b"A\r\nB\r\nC\r\n"), POLL),
    "sixty_lines": steps(FORMAT51, EMBOSS60, POLL),
    "close_query": steps(POLL, CLOSE, POLL),
}

DECODER = {
    "format2": b"\x0a" + FORMAT2,
    "format_then_emboss": b"\x0a" + FORMAT2 + EMBOSS2,
    "reverse": b"\x0b" + FORMAT4 + EMBOSS_LONG,
    "format51_emboss60": b"\x0a" + FORMAT51 + EMBOSS60,
    "emboss_without_format": b"\x0a" + EMBOSS2,
    "poll_inside": b"\x0a" + FORMAT2[:30] + POLL + FORMAT2[30:] + EMBOSS2[:12] + POLL + EMBOSS2[12:],
    "no_at": b"\x0a" + FORMAT2 + SOH + b"31" + STX + b"T]00AB\r\nCD" + ETX,
    "two_at": b"\x0a" + FORMAT2 + emboss_data(b"AB", b"12@45"),
    "lower_case_header": b"\x0a" + SOH + b"31" + STX + b"f]00 u0 " + card_block() + record(b"085", b"120", b"0", b"14") + ETX,
    "bad_pitch": b"\x0a" + format_definition([record(b"085", b"120", b"0", b"1x")]) + emboss_data(b"A"),
    "bad_font": b"\x0a" + format_definition([record(b"085", b"120", b"x", b"14")]) + emboss_data(b"A"),
    "negative_numbers": b"\x0a" + format_definition([b" Y-85X-20F0P-4 "], card_block(b"-540", b"-856")) + emboss_data(b"AB"),
    "big_card": b"\x0a" + format_definition([record(b"999", b"999", b"2", b"99")], card_block(b"9999", b"9999")) + emboss_data(b"W" * 80),
    "unknown_header": b"\x0a" + SOH + b"31" + STX + b"X]00" + ETX,
    "nul_in_text": b"\x0a" + FORMAT2 + emboss_data(b"AB\x00CD\r\nEF"),
    "high_bytes": b"\x0a" + FORMAT2 + emboss_data(bytes(range(0x80, 0x100))),
}

INI_MAIN = (b"[Form]\r\nTop=104\r\nLeft=226\r\nWidth=540\r\nHeight=512\r\n\r\n"
            b"[Setup]\r\nFont0=5\r\nFont1=7\r\nPort=10001\r\nReverse=0\r\nStayOnTop=1\r\n")
INIFILE = {
    "settings_crlf": INI_MAIN,
    "settings_lf": INI_MAIN.replace(b"\r\n", b"\n"),
    "bom_and_comments": b"\xef\xbb\xbf; written by hand\n# another comment\n[setup]\n port = \"10002\" \nFONT0 = $0A\nfont1=0x0c\n",
    "quoted_and_blank": b"[Setup]\nPort='  4000  '\nReverse = -1\n\n\n[Form]\nTop=-20\nLeft=x10\n",
    "duplicates": b"[Form]\nTop=1\n[Form]\nTop=2\n[Setup]\nPort=1\nPort=2\n",
    "no_final_line_end": b"[Setup]\nPort=10001",
    "lines_before_section": b"Port=9\n=\n[]\n[Setup\nPort=7\n[Form]]\nWidth=99999999999\nHeight=2147483647\n",
    "empty": b"",
}



def session(*requests):
    """Control port input: one request line each (bytes as they are, others as JSON)."""
    return b"".join((r if isinstance(r, bytes) else json.dumps(r, separators=(",", ":")).encode()) + b"\n"
                    for r in requests)


PRESS = {"cmd": "press", "button": "clear"}
WAIT = {"cmd": "wait_idle", "timeout_ms": 5000}
CONTROL = {
    "press_and_wait": session(PRESS, WAIT, {"cmd": "state"}),
    "every_button": session({"cmd": "press", "button": "reset"}, {"cmd": "press", "button": "pause"},
                            {"cmd": "state"}, {"cmd": "press", "button": "pause"}, PRESS, WAIT,
                            {"cmd": "press", "button": "power"}),
    "presses_nested": session(*([PRESS] * 12), WAIT, {"cmd": "faults"}),
    "faults": session({"cmd": "set_fault", "fault": "card_misfeed", "on": True},
                      {"cmd": "set_fault", "fault": "y_motor_error", "on": True},
                      {"cmd": "set_fault", "fault": "smoke", "on": True},
                      {"cmd": "set_fault", "fault": "feeder_empty"}, {"cmd": "faults"}, {"cmd": "state"}),
    "line_faults": session({"cmd": "reply_delay", "ms": 150}, {"cmd": "reply_delay", "ms": -1},
                           {"cmd": "ignore_polls", "count": 2}, {"cmd": "ignore_polls", "count": "x"},
                           {"cmd": "disconnect_host"}, {"cmd": "state"}),
    "save_card": session({"cmd": "glyphs"}, {"cmd": "save_card", "path": "card.png"},
                         {"cmd": "save_card", "path": "../card.png"}, {"cmd": "save_card"},
                         {"cmd": "save_card", "path": "no/such/card.png"}),
    "monitor": session({"cmd": "monitor", "show": True}, PRESS, WAIT, {"cmd": "logs"},
                       {"cmd": "logs", "clear": True}, {"cmd": "clear_logs"},
                       {"cmd": "monitor", "show": False}, {"cmd": "monitor"}),
    "errors": session({"cmd": "errors"}, {"cmd": "errors", "clear": True}, {"cmd": "dismiss_error"}),
    "diagnosis": session({"cmd": "diagnostics"}, {"cmd": "diagnostics", "clear": True}, {"cmd": "jobs"}),
    "serial": session({"cmd": "serial_port", "device": "ttyS0"}, {"cmd": "serial_port", "device": "NONE"},
                      {"cmd": "serial_port"}, {"cmd": "state"}),
    "malformed": session(b"hello", b"[1,2]", b"{}", b'{"cmd":"fly"}', b'{"cmd":"state","cmd":"quit"}',
                         b'{"cmd":"state","\\u0063md":"quit"}', b"\x00\xff\x01{", b"   ", b'{"cmd":5}'),
    "quit": session({"cmd": "quit"}, {"cmd": "state"}),
    "wait_timeout": session(PRESS, {"cmd": "wait_idle", "timeout_ms": 0}, {"cmd": "wait_idle", "timeout_ms": -5},
                            {"cmd": "wait_idle"}),
}


def write(target, seeds):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


write("fuzz_dispatcher", DISPATCHER)
write("fuzz_decoder", DECODER)
write("fuzz_inifile", INIFILE)
write("fuzz_controlcommands", CONTROL)
