"""End-to-end cases of what the value boxes and lamps say about a reading."""

import time

from e2e_session import check, is_green_text, is_red_text, lamp_colour, wait_for


def _grey_text(r, g, b):
    return 100 <= r <= 160 and abs(r - g) < 20 and abs(r - b) < 20


def case_readings(s, a, t):
    """12.5 V on the 10 V range beside 1.25 V: the overloaded box in red with
    a red lamp, the other in green; once the crate server dies both keep their
    numbers in grey, the update lamps go dark and the module lamp turns red.
    t is the e2e_tests module, for the window layout and the shared steps."""
    with open(a.default_settings, "rb") as f:
        settings = t.settings_with(f.read(), {
            "АЦП. Групповое управление каналами": "0",
            "АЦП. Управление каналом 1": "1",
            "АЦП. Управление каналом 2": "1",
            **{"АЦП. Управление каналом %d" % n: "0" for n in range(3, 17)},
            "АЦП. Групповое управление входным диапазоном для измерения U": "-1",
            "АЦП. Управление входным диапазоном U канала 1": "0",
            "АЦП. Управление входным диапазоном U канала 2": "0",
            "АЦП. Индекс частоты работы АЦП": "4",
        })
    s.start_emulator(a.emulator, a.fixtures + "/readings.json")
    s.start_program(s.program_dir(a.program, settings))
    w = t.wait_discovered(s, a.version)
    s.click(w, *t.START_BUTTON_CENTRE)
    t.wait_start_count(s, 3, 30)

    def box_text(shot, ch, predicate):
        x0, y0, x1, y1 = t.value_box(ch)
        return shot.count(w["x"] + x0, w["y"] + y0, w["x"] + x1, w["y"] + y1, predicate)

    def lamp(shot, ch):
        x, y = t.update_lamp(ch)
        return lamp_colour(shot.mean(w["x"] + x, w["y"] + y))

    def both_lamps_lit():
        shot = s.shot("measuring")
        return shot if lamp(shot, 0) != "neutral" and lamp(shot, 1) != "neutral" else None

    # The lamps blink dark for 100 ms per block; take a shot with both lit.
    shot = wait_for("both update lamps lit", both_lamps_lit, 15, 0.3)
    check(lamp(shot, 0) == "red", "update lamp of the overloaded channel is %s" % lamp(shot, 0))
    check(lamp(shot, 1) == "green", "update lamp of the valid channel is %s" % lamp(shot, 1))
    red, green = box_text(shot, 0, is_red_text), box_text(shot, 0, is_green_text)
    check(red > 50 and green < 10, "overloaded value box: %d red, %d green pixels" % (red, green))
    red, green = box_text(shot, 1, is_red_text), box_text(shot, 1, is_green_text)
    check(green > 50 and red < 10, "valid value box: %d red, %d green pixels" % (red, green))

    s.kill_emulator()
    t.dismiss(s, t.MAIN_DIALOG, 20)
    time.sleep(1.5)
    # No window manager runs here: the window must take the keyboard back
    # itself, or the operator's shortcuts reach nothing.
    check(s.focused() == w["id"], "keyboard focus after the message: %s, window %s" % (s.focused(), w["id"]))
    after = s.shot("after-failure")
    for ch in (0, 1):
        grey = box_text(after, ch, _grey_text)
        red, green = box_text(after, ch, is_red_text), box_text(after, ch, is_green_text)
        check(grey > 50 and red < 10 and green < 10,
              "channel %d after the failure: %d grey, %d red, %d green pixels" % (ch + 1, grey, red, green))
        check(lamp(after, ch) == "neutral", "update lamp %d after the failure is %s" % (ch + 1, lamp(after, ch)))
    x, y = t.MODULE_LAMP
    module = lamp_colour(after.mean(w["x"] + x, w["y"] + y))
    check(module == "red", "module lamp over a dead link is %s" % module)
    t.close_with_ctrl_q(s, w)
