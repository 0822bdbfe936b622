"""wrk.py's part "lighthouse": Lighthouse's four scores for the website's kinds of page, served by the
production stack (start.sh --production) first over plain HTTP, then over HTTPS with a
certificate that certbot got from pebble on loopback, in Debian's Chromium (headless). Goals over
HTTPS, printed as met or MISSED: every score at least 0.95, best practices and SEO 1.0.

Lighthouse comes from npm (pinned; installed into /opt/skv-lighthouse on first use). Runs as root."""
import base64
import hashlib
import json
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER_DIR = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(SERVER_DIR, "tests"))
import acme  # noqa: E402
import harness  # noqa: E402

PREFIX = "/opt/skv-lighthouse"
CLI = PREFIX + "/node_modules/lighthouse/cli/index.js"
VERSION = "12.2.3"  # 13 needs Node 22
PAGES = {"start page": "/", "hiscores": "/hiscores.php?page=2", "designs": "/designs.php?sort=velocity&dir=desc",
         "a design": "/design.php?file=5eed0007.plane"}
CATEGORIES = ("performance", "accessibility", "best-practices", "seo")
# Chromium as this machine runs it: headless, no sandbox (root), nothing fetched in the background.
CHROME = ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
          "--disable-background-networking", "--disable-component-update", "--disable-sync"]


def spki_hash(cert):
    """What --ignore-certificate-errors-spki-list takes: the browser trusts this one key as a CA would."""
    der = subprocess.run(f"openssl x509 -in '{cert}' -pubkey -noout | openssl pkey -pubin -outform der", shell=True,
                         check=True, capture_output=True).stdout
    return base64.b64encode(hashlib.sha256(der).digest()).decode()


def lighthouse(url, addr, flags, out):
    chrome = CHROME + ["--user-data-dir=" + tempfile.mkdtemp(prefix="skv-lh-"),
                       "--host-resolver-rules='MAP %s %s'" % (acme.HOST, addr)] + flags
    subprocess.run(["node", CLI, url, "--quiet", "--output", "json", "--output-path", out,
                    "--chrome-flags=" + " ".join(chrome)], check=True, env=dict(os.environ, CHROME_PATH="/usr/bin/chromium"))
    with open(out) as f:
        report = json.load(f)
    failed = [a["id"] for a in report["audits"].values()
              if a.get("scoreDisplayMode") in ("binary", "numeric") and a.get("score") is not None and a["score"] < 1]
    return [report["categories"][c]["score"] for c in CATEGORIES], failed


def measure(scheme, addr, flags, runs, work):
    print("\n%s (%s)" % (scheme.upper(), ", ".join(CATEGORIES)))
    # Plain HTTP by the address: Chromium now upgrades a named host's http:// to HTTPS first and
    # shows a warning where that fails; addresses it leaves alone.
    host = acme.HOST if scheme == "https" else addr
    worst = {}
    for kind, target in PAGES.items():
        results = [lighthouse("%s://%s%s" % (scheme, host, target), addr, flags,
                              os.path.join(work, "%s-%d.json" % (scheme, i))) for i in range(runs)]
        scores = [min(r[0][i] for r in results) for i in range(len(CATEGORIES))]
        worst[kind] = scores
        print("  %-11s %s   below 1: %s" % (kind, "  ".join("%.2f" % s for s in scores),
                                           ", ".join(sorted(set(a for r in results for a in r[1]))) or "none"), flush=True)
    return worst


def measure_lighthouse(runs=1):
    """Runs per page: the lowest score counts. Returns the number of goals missed (0 or 1)."""
    if not os.path.exists(CLI):
        subprocess.run(["npm", "install", "--prefix", PREFIX, "--no-audit", "--no-fund", "-E", "lighthouse@" + VERSION],
                       check=True, stdout=subprocess.DEVNULL)
    addr = harness.free_address((80, 21, 443))
    ca = acme.Acme(addr)
    work = tempfile.mkdtemp(prefix="skv-lighthouse-")
    server = harness.Server(addr, "lighthouse", extra=["--production", *harness.LIFTED, "--acme", ca.webroot])
    try:
        server.admin("seed-scores", 5000)
        server.admin("seed-planes", 60)
        measure("http", addr, [], runs, work)
        cert, key = ca.issue("/usr/sbin/nginx -c %s -s reload" % server.records("run", "nginx.conf"))
        server.extra += ["--tls", cert, key]
        server.start()
        worst = measure("https", addr, ["--ignore-certificate-errors-spki-list=" + spki_hash(cert)], runs, work)
        missed = [kind for kind, s in worst.items()
                  if min(s) < 0.95 or s[CATEGORIES.index("best-practices")] < 1 or s[CATEGORIES.index("seo")] < 1]
        print("\ngoal over HTTPS (every score >= 0.95, best practices and SEO 1.0): %s"
              % ("met" if not missed else "MISSED on " + ", ".join(missed)))
        return int(bool(missed))
    finally:
        server.stop()
        ca.stop()
