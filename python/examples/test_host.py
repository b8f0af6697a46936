def test_fresh_machine_then_ready(vorlak):
    host = vorlak.host()
    assert host.poll().raw == b"\x06P"  # POWERED ON, the machine's exact bytes
    vorlak.control.press("clear"); vorlak.control.wait_idle()
    assert host.poll().state == "ready"
