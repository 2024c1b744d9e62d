# korvanctl status --openmetrics read back by python3-prometheus-client's
# OpenMetrics parser; given a scratch folder, also served by Debian's node
# exporter (unpacked there) through its textfile collector.
import glob, json, os, pwd, socket, subprocess, sys, tempfile, time, urllib.request
from prometheus_client.openmetrics.parser import text_string_to_metric_families as om_parse
from prometheus_client.parser import text_string_to_metric_families as text_parse

KORVANCTL, USER = sys.argv[1], pwd.getpwuid(os.getuid()).pw_name
MAX, MIN = 2**63 - 1, -(2**63)
# report (None: no script), exit, paired, state, (desired, bridge, agent, hub), memory KB
CASES = [
    (b"desired=disabled\nbridge=online\nagent=online\nhub=online\n", 0, True, "stopped",
     ("disabled", "online", "online", "online"), (0, 0)),
    (b"bridge=online\nagent=online\nhub=online\nbridge_memory_kb=%d\nagent_memory_kb=%d\n"
     % (MAX, MIN), 0, True, "linked", ("enabled", "online", "online", "online"), (MAX, MIN)),
    (b"desired=disabled \nagent=online\nagent_memory_kb=-5\n", 3, True, "connecting",
     ("disabled ", "stopped", "online", "offline"), (0, -5)),
    ('desired=en"a\\b\r\nle\nbridge=云 # x\nagent=\\n"}\nhub=\x00\\\n'.encode(), 0, True,
     "failed", ('en"a\\b\r\nle', "云 # x", '\\n"}', "\x00\\"), (0, 0)),
    (None, 127, True, "failed", ("enabled", "stopped", "stopped", "offline"), (0, 0)),
    (b"bridge=online\n", 0, False, "unpaired", (None,) * 4, (None,) * 2),  # never asked
]

def want(case):
    _, status, paired, state, (d, b, a, h), (bkb, akb) = case
    rows = [("korvan_paired", {}, int(paired))]
    rows += [("korvan_state", {"state": s}, int(s == state))
             for s in ("stopped", "linked", "connecting", "failed", "unpaired")]
    if paired:
        rows += [("korvan_status_exit_code", {}, status),
                 ("korvan_report_info", dict(desired=d, bridge=b, agent=a, hub=h), 1)]
        rows += [("korvan_desired", {"value": v}, int(d == v)) for v in ("enabled", "disabled")]
        rows += [("korvan_component_up", {"component": c}, int(v == "online"))
                 for c, v in (("bridge", b), ("agent", a), ("hub", h))]
        rows += [("korvan_memory_bytes", {"component": c}, k * 1024)
                 for c, k in (("bridge", bkb), ("agent", akb))]
    return {(n, tuple(sorted(dict(l, user=USER).items()))): v for n, l, v in rows}

def want_json(case, root):
    keys = ("desired", "bridge", "agent", "hub", "bridgeMemoryKB", "agentMemoryKB")
    return dict(zip(keys, case[4] + case[5]), state=case[3], paired=case[2], serviceRoot=root)

def series(families):
    return {(s.name, tuple(sorted(s.labels.items()))): s.value for f in families for s in f.samples}

def root_for(case, root):
    if case[0] is not None:
        os.makedirs(root + "/scripts")
        open(root + "/report", "wb").write(case[0])
        script = root + "/scripts/korvan-service-control.sh"
        open(script, "w").write('touch "$0.ran"; cat "$KORVAN_APP_SUPPORT_DIR/report"\n'
                                'exit %d\n' % case[1])
        os.chmod(script, 0o755)
    if case[2]:
        open(root + "/.env", "w").write("KORVAN_AGENT_HOST_ID=h\nKORVAN_AGENT_TOKEN=t\n")
    return root

def korvanctl(root, *args, stdout=subprocess.PIPE, mode="--openmetrics"):
    return subprocess.run([KORVANCTL, "status", mode, *args], stdout=stdout,
                          stderr=subprocess.PIPE, timeout=30,
                          env=dict(os.environ, KORVAN_APP_SUPPORT_DIR=root))

for case in CASES:
    with tempfile.TemporaryDirectory() as root:
        r = korvanctl(root_for(case, root))
        text = r.stdout.decode()
        assert r.returncode == 0 and text.endswith("\n# EOF\n"), r
        families = list(om_parse(text))
        assert all(f.type == "gauge" and f.name.startswith("korvan_") and
                   not {'"', "\\"} & set(f.documentation) for f in families), text
        got = series(families)  # the parser silently drops a repeated series
        assert len(got) == sum(1 for l in text.split("\n") if l and l[0] != "#"), text
        assert got == want(case), (got, want(case))
        assert korvanctl(root, "--output", root + "/m.prom").returncode == 0
        assert open(root + "/m.prom", "rb").read() == r.stdout
        r = korvanctl(root, mode="--json")
        assert json.loads(r.stdout) == want_json(case, root), (r, want_json(case, root))
        assert case[2] or not os.path.exists(root + "/scripts/korvan-service-control.sh.ran")

with tempfile.TemporaryDirectory() as root:
    for args, out in [(["--output", root + "/no/such.prom"], None), ([], open("/dev/full", "w"))]:
        r = korvanctl(root, *args, stdout=out)
        assert r.returncode == 74 and r.stderr and os.listdir(root) == [], (args, r)

if len(sys.argv) < 3:
    sys.exit(0)
scratch, deadline = sys.argv[2], time.monotonic() + 20
exporter = scratch + "/root/usr/bin/prometheus-node-exporter"
if not os.path.exists(exporter):
    os.makedirs(scratch, exist_ok=True)
    if subprocess.run(["apt-get", "download", "prometheus-node-exporter"], cwd=scratch).returncode:
        sys.exit(77)  # no Debian mirror: skipped, not passed
    subprocess.run(["dpkg", "-x", *glob.glob(scratch + "/*.deb"), scratch + "/root"], check=True)
with socket.socket() as s:
    s.bind(("127.0.0.1", 0))
    address = "127.0.0.1:%d" % s.getsockname()[1]
with tempfile.TemporaryDirectory() as folder:
    node = subprocess.Popen([exporter, "--web.listen-address=" + address,
                             "--collector.disable-defaults", "--collector.textfile",
                             "--collector.textfile.directory=" + folder])
    try:
        for case in CASES:
            with tempfile.TemporaryDirectory() as root:
                path = folder + "/korvan-%s.prom" % USER
                assert korvanctl(root_for(case, root), "--output", path).returncode == 0
            while True:
                try:
                    body = urllib.request.urlopen("http://%s/metrics" % address).read().decode()
                    break
                except OSError:
                    assert time.monotonic() < deadline and node.poll() is None, "no node exporter"
            got = series(text_parse(body))
            assert got[("node_textfile_scrape_error", ())] == 0, body
            assert ("node_textfile_mtime_seconds", (("file", path),)) in got, body
            korvan = {k: v for k, v in got.items() if k[0].startswith("korvan_")}
            assert korvan == {k: float(v) for k, v in want(case).items()}, (korvan, want(case))
    finally:
        node.terminate()
        node.wait(10)
