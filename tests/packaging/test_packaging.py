"""Installation and packages: `make install` into scratch roots, the Debian
packages built from the working tree, the agent package installed, upgraded
and removed with dpkg in scratch roots (its maintainer scripts run there
through DPKG_ROOT), the DKMS sources built for the packaged kernel headers,
the systemd unit checked by systemd-analyze, and the package booted under
systemd in a container (service-sandbox-check).

The packages are built once per run (under a minute on two cores; the unit
tests are left to ctest); VLM_DEB_DIR=DIR uses the packages already in DIR
instead. VLM_BUILD names the CMake build directory holding the agent for
`make install` (default build).
"""

import os
import re
import shutil
import subprocess
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("VLM_BUILD", REPO / "build"))
if not BUILD.is_absolute():
    BUILD = REPO / BUILD
CONFIG = "etc/snmp/vlmSNMPsubagent.xml"
FACTORY = (REPO / "config" / "vlmSNMPsubagent.xml").read_bytes()
SMARTCTL = (REPO / "packaging" / "vlm_smartctl").read_bytes()
MIBS = sorted(p.name for p in (REPO / "mibs").glob("*.txt"))
UNIT = "vlm-subagent.service"
WANTS_LINK = "etc/systemd/system/multi-user.target.wants/" + UNIT


def run(cmd, **kw):
    kw.setdefault("stdin", subprocess.DEVNULL)
    return subprocess.run(cmd, capture_output=True, text=True, **kw)


def check(cmd, **kw):
    r = run(cmd, **kw)
    assert r.returncode == 0, f"{cmd} failed ({r.returncode}):\n{r.stdout}\n{r.stderr}"
    return r


def unit_settings(path):
    """The unit's settings as (key, value) pairs, comments left out."""
    pairs = []
    for line in Path(path).read_text().splitlines():
        if "=" in line and not line.startswith("#"):
            key, value = line.split("=", 1)
            pairs.append((key.strip(), value.strip()))
    return pairs


def setting(path, key):
    values = [v for k, v in unit_settings(path) if k == key]
    assert len(values) == 1, f"{key} set {len(values)} times in {path}"
    return values[0]


def verify_unit(unit, agent):
    """systemd-analyze verify of `unit`, with ExecStart pointed at `agent`
    (the agent as installed in a scratch root; verify checks that the
    command exists). Any complaint fails."""
    if shutil.which("systemd-analyze") is None:
        pytest.skip("systemd-analyze not installed (scripts/install-deps installs systemd)")
    text = Path(unit).read_text()
    copy = Path(unit).parent.parent / ("verify-" + UNIT)
    copy.write_text("".join(
        f"ExecStart={agent}\n" if line.startswith("ExecStart=") else line + "\n"
        for line in text.splitlines()))
    r = run(["systemd-analyze", "verify", str(copy)])
    copy.unlink()
    assert r.returncode == 0 and not r.stderr.strip(), r.stderr


# make install ---------------------------------------------------------------

def default_unit_dir():
    r = run(["pkg-config", "--variable=systemdsystemunitdir", "systemd"])
    return (r.stdout.strip() if r.returncode == 0 else "") or "/lib/systemd/system"


def make_install(destdir, *variables):
    env = {k: v for k, v in os.environ.items() if k not in ("MAKEFLAGS", "MAKELEVEL", "MFLAGS")}
    return check(["make", "-s", "--no-print-directory", "-C", str(REPO), "install-files",
                  f"BUILD={BUILD}", f"DESTDIR={destdir}", *variables], env=env)


@pytest.fixture(scope="module")
def agent_binary():
    agent = BUILD / "vlm_subagent"
    if not os.access(agent, os.X_OK):
        pytest.skip(f"no {agent}: run make first")
    return agent.read_bytes()


def test_make_install_lays_out_the_factory_installation(tmp_path, agent_binary):
    make_install(tmp_path)
    sbin = tmp_path / "usr/local/sbin"
    assert (sbin / "vlm_subagent").read_bytes() == agent_binary
    assert (sbin / "vlm_smartctl").read_bytes() == SMARTCTL
    for tool in ("vlm_subagent", "vlm_smartctl"):
        assert os.stat(sbin / tool).st_mode & 0o777 == 0o755
    assert (tmp_path / CONFIG).read_bytes() == FACTORY
    assert sorted(p.name for p in (tmp_path / "usr/share/snmp/mibs").iterdir()) == MIBS
    for mib in MIBS:
        assert (tmp_path / "usr/share/snmp/mibs" / mib).read_bytes() == (REPO / "mibs" / mib).read_bytes()
    unit = tmp_path / default_unit_dir().lstrip("/") / UNIT
    assert setting(unit, "ExecStart") == "/usr/local/sbin/vlm_subagent"
    doc = setting(unit, "Documentation")
    assert doc == "file:///usr/local/share/doc/vlm-subagent/README.md"
    assert (tmp_path / doc[len("file:///"):]).read_bytes() == (REPO / "README.md").read_bytes()
    verify_unit(unit, sbin / "vlm_subagent")


def test_make_install_keeps_the_operators_configuration(tmp_path, agent_binary):
    make_install(tmp_path)
    operator = FACTORY.replace(b'"sysDeviceName"></detail>', b'"sysDeviceName">press 3</detail>')
    assert operator != FACTORY
    (tmp_path / CONFIG).write_bytes(operator)
    out = make_install(tmp_path).stdout
    assert (tmp_path / CONFIG).read_bytes() == operator
    assert "keeping" in out


def test_make_install_with_another_prefix_links_vlm_smartctl(tmp_path, agent_binary):
    # The agent runs /usr/local/sbin/vlm_smartctl whatever the prefix.
    make_install(tmp_path, "PREFIX=/usr", "UNITDIR=/usr/lib/systemd/system")
    assert (tmp_path / "usr/sbin/vlm_subagent").read_bytes() == agent_binary
    assert (tmp_path / "usr/sbin/vlm_smartctl").read_bytes() == SMARTCTL
    assert os.readlink(tmp_path / "usr/local/sbin/vlm_smartctl") == "/usr/sbin/vlm_smartctl"
    assert not (tmp_path / "usr/local/sbin/vlm_subagent").exists()
    unit = tmp_path / "usr/lib/systemd/system" / UNIT
    assert setting(unit, "ExecStart") == "/usr/sbin/vlm_subagent"
    assert setting(unit, "Documentation") == "file:///usr/share/doc/vlm-subagent/README.md"

    bare = tmp_path / "bare"
    make_install(bare, "PREFIX=/usr", "SMARTCTL_PATH=")
    assert not (bare / "usr/local").exists()


# The packages ---------------------------------------------------------------

def deb_field(deb, field):
    return check(["dpkg-deb", "-f", str(deb), field]).stdout.strip()


@pytest.fixture(scope="session")
def packages(tmp_path_factory):
    """The .deb files by package name, built from the working tree (lintian
    runs as part of the build and fails it on any error)."""
    prebuilt = os.environ.get("VLM_DEB_DIR")
    if prebuilt:
        out = Path(prebuilt)
    else:
        for tool in ("dpkg-buildpackage", "dh", "dh_dkms", "lintian"):
            if shutil.which(tool) is None:
                pytest.skip(f"{tool} not installed (scripts/install-deps installs the packaging tools)")
        out = tmp_path_factory.mktemp("debs")
        env = dict(os.environ, DEB_BUILD_OPTIONS="nocheck")
        env.pop("MAKEFLAGS", None)
        check([str(REPO / "packaging/build-deb"), "--jobs", str(os.cpu_count() or 2), str(out)],
              env=env)
    debs = {}
    for deb in sorted(out.glob("*.deb")):
        debs[deb_field(deb, "Package")] = deb
    assert {"vlm-subagent", "vlm-drivers-dkms"} <= set(debs), f"packages in {out}: {sorted(debs)}"
    return debs


class Root:
    """A scratch root with an empty dpkg database. Maintainer scripts run
    outside it with DPKG_ROOT set, as the debhelper snippets and ours
    expect; a policy-rc.d inside keeps services from being started."""

    def __init__(self, path):
        self.path = path
        for d in ("var/lib/dpkg/info", "var/lib/dpkg/updates", "var/lib/dpkg/triggers",
                  "var/log", "usr/sbin"):
            (path / d).mkdir(parents=True, exist_ok=True)
        (path / "var/lib/dpkg/status").touch()
        policy = path / "usr/sbin/policy-rc.d"
        policy.write_text("#!/bin/sh\nexit 101\n")
        policy.chmod(0o755)

    def dpkg(self, *args, ok=True):
        cmd = ["dpkg", f"--root={self.path}", f"--log={self.path}/var/log/dpkg.log",
               "--force-script-chrootless", "--force-depends", *args]
        return check(cmd) if ok else run(cmd)

    def status(self, package):
        r = run(["dpkg-query", f"--root={self.path}", "-W", "-f=${Status} ${Version}", package])
        return r.stdout.strip() if r.returncode == 0 else "not known"

    def __truediv__(self, rel):
        return self.path / rel


@pytest.fixture
def root(tmp_path):
    if os.geteuid() != 0:
        pytest.skip("installing into a scratch root with dpkg needs root")
    return Root(tmp_path / "root")


def repack(deb, out, version, factory=None):
    """`deb` as version `version`, its factory configuration replaced by
    `factory` if given: a newer package as far as dpkg can tell."""
    tree = out.with_suffix(".d")
    check(["dpkg-deb", "-R", str(deb), str(tree)])
    control = tree / "DEBIAN/control"
    control.write_text("".join(
        f"Version: {version}\n" if line.startswith("Version:") else line + "\n"
        for line in control.read_text().splitlines()))
    if factory is not None:
        (tree / CONFIG).write_bytes(factory)
    check(["dpkg-deb", "--root-owner-group", "-b", str(tree), str(out)])
    shutil.rmtree(tree)
    return out


def test_package_metadata(packages, tmp_path):
    agent = packages["vlm-subagent"]
    depends = deb_field(agent, "Depends")
    assert "snmpd" in [d.strip().split(" ")[0] for d in depends.split(",")]
    assert "libsnmp" in depends and "libxml2" in depends  # from ${shlibs:Depends}
    assert "smartmontools" in deb_field(agent, "Recommends")
    dkms = packages["vlm-drivers-dkms"]
    assert deb_field(dkms, "Architecture") == "all"
    assert "dkms" in deb_field(dkms, "Depends")
    # The modules are loaded at boot by name: a name that is not one DKMS
    # builds would only be logged as not found.
    check(["dpkg-deb", "-x", str(dkms), str(tmp_path)])
    load = (tmp_path / "usr/lib/modules-load.d/vlm-drivers.conf").read_text()
    listed = {line.strip() for line in load.splitlines() if line.strip() and not line.startswith("#")}
    built = set(re.findall(r'BUILT_MODULE_NAME\[\d+\]="(\w+)"',
                           next(tmp_path.glob("usr/src/vlm-drivers-*/dkms.conf")).read_text()))
    assert listed == built == {"vmspname", "vlmpsustatus"}


def test_agent_package_installs_agent_mib_unit_and_configuration(packages, root):
    root.dpkg("-i", str(packages["vlm-subagent"]))
    assert root.status("vlm-subagent").startswith("install ok installed")

    assert (root / "usr/sbin/vlm_subagent").read_bytes()[:4] == b"\x7fELF"
    assert os.access(root / "usr/sbin/vlm_subagent", os.X_OK)
    assert (root / "usr/sbin/vlm_smartctl").read_bytes() == SMARTCTL
    assert os.access(root / "usr/sbin/vlm_smartctl", os.X_OK)
    # Made by the postinst where the agent runs it, not shipped.
    assert os.readlink(root / "usr/local/sbin/vlm_smartctl") == "/usr/sbin/vlm_smartctl"
    listing = check(["dpkg-deb", "-c", str(packages["vlm-subagent"])]).stdout
    assert "/usr/local" not in listing

    assert (root / CONFIG).read_bytes() == FACTORY
    conffiles = run(["dpkg-query", f"--root={root.path}", "-W", "-f=${Conffiles}",
                     "vlm-subagent"]).stdout
    assert "/" + CONFIG in conffiles

    mibs = root / "usr/share/snmp/mibs"
    assert sorted(p.name for p in mibs.iterdir()) == MIBS
    for mib in MIBS:
        assert (mibs / mib).read_bytes() == (REPO / "mibs" / mib).read_bytes()

    unit = root / "lib/systemd/system" / UNIT
    assert setting(unit, "ExecStart") == "/usr/sbin/vlm_subagent"
    assert "snmpd.service" in setting(unit, "After").split()
    assert setting(unit, "Restart") == "on-failure"
    # Enabled by the postinst (deb-systemd-helper under DPKG_ROOT).
    assert os.readlink(root / WANTS_LINK) == "/lib/systemd/system/" + UNIT
    assert (root / "usr/share/doc/vlm-subagent/README.md.gz").exists()
    verify_unit(unit, root / "usr/sbin/vlm_subagent")


def test_upgrades_keep_the_operators_configuration(packages, root, tmp_path):
    deb = packages["vlm-subagent"]
    version = deb_field(deb, "Version")
    operator = FACTORY.replace(b'"sysDeviceName"></detail>', b'"sysDeviceName">press 3</detail>')
    new_factory = FACTORY.replace(b'"maxTableRow">100<', b'"maxTableRow">200<')
    assert operator != FACTORY and new_factory != FACTORY

    root.dpkg("-i", str(deb))
    (root / CONFIG).write_bytes(operator)

    # A newer version with the same factory file: the operator's file stays
    # and dpkg does not ask (it would fail here, its stdin being empty).
    same = repack(deb, tmp_path / "same.deb", version + "+1")
    root.dpkg("-i", str(same))
    assert root.status("vlm-subagent") == f"install ok installed {version}+1"
    assert (root / CONFIG).read_bytes() == operator
    assert not (root / (CONFIG + ".dpkg-dist")).exists()

    # A newer factory file too: dpkg would ask; the usual unattended answer
    # keeps the operator's file and puts the new one beside it.
    changed = repack(deb, tmp_path / "changed.deb", version + "+2", new_factory)
    asked = root.dpkg("-i", str(changed), ok=False)
    assert asked.returncode != 0 and "conffile prompt" in asked.stderr, asked.stderr
    root.dpkg("--force-confdef", "--force-confold", "-i", str(changed))
    assert root.status("vlm-subagent") == f"install ok installed {version}+2"
    assert (root / CONFIG).read_bytes() == operator
    assert (root / (CONFIG + ".dpkg-dist")).read_bytes() == new_factory

    # The service stays enabled and vlm_smartctl linked across the upgrades.
    assert os.readlink(root / WANTS_LINK) == "/lib/systemd/system/" + UNIT
    assert os.readlink(root / "usr/local/sbin/vlm_smartctl") == "/usr/sbin/vlm_smartctl"


def test_upgrade_brings_a_new_factory_file_when_the_operator_kept_the_old(packages, root, tmp_path):
    deb = packages["vlm-subagent"]
    new_factory = FACTORY.replace(b'"maxTableRow">100<', b'"maxTableRow">200<')
    root.dpkg("-i", str(deb))
    root.dpkg("-i", str(repack(deb, tmp_path / "new.deb", deb_field(deb, "Version") + "+1",
                               new_factory)))
    assert (root / CONFIG).read_bytes() == new_factory


def test_package_over_a_manual_installation_keeps_its_configuration(packages, root):
    # A board set up with make install moves to the package: the file on the
    # system is not the package's, dpkg asks, the usual answer keeps it.
    operator = FACTORY.replace(b'"sysBootCount">0<', b'"sysBootCount">41<')
    (root / "etc/snmp").mkdir(parents=True)
    (root / CONFIG).write_bytes(operator)
    root.dpkg("--force-confdef", "--force-confold", "-i", str(packages["vlm-subagent"]))
    assert (root / CONFIG).read_bytes() == operator
    assert (root / (CONFIG + ".dpkg-dist")).read_bytes() == FACTORY


def test_remove_and_purge(packages, root):
    deb = packages["vlm-subagent"]
    root.dpkg("-i", str(deb))
    root.dpkg("-r", "vlm-subagent")
    assert not (root / "usr/sbin/vlm_subagent").exists()
    assert not (root / "usr/local/sbin/vlm_smartctl").is_symlink()
    assert (root / CONFIG).read_bytes() == FACTORY  # a conffile outlives removal
    root.dpkg("-P", "vlm-subagent")
    assert not (root / CONFIG).exists()
    assert not (root / WANTS_LINK).is_symlink()
    assert root.status("vlm-subagent") in ("not known", "unknown ok not-installed")


def test_administrators_own_vlm_smartctl_is_left_alone(packages, root):
    own = root / "usr/local/sbin/vlm_smartctl"
    own.parent.mkdir(parents=True)
    own.write_text("#!/bin/sh\nexec /opt/site/smartctl \"$@\"\n")
    root.dpkg("-i", str(packages["vlm-subagent"]))
    assert not own.is_symlink() and "/opt/site" in own.read_text()
    root.dpkg("-P", "vlm-subagent")
    assert not own.is_symlink() and "/opt/site" in own.read_text()


# DKMS -----------------------------------------------------------------------

def kernel_release(*arch):
    r = run([str(REPO / "scripts/kernel-headers-dir"), *arch, "--release"])
    if r.returncode != 0 or not Path(f"/lib/modules/{r.stdout.strip()}/build").exists():
        pytest.skip(f"no kernel headers for {arch or 'amd64'}: {r.stderr.strip()}")
    return r.stdout.strip()


def test_dkms_builds_each_module_for_its_kernels(packages, tmp_path):
    if shutil.which("dkms") is None:
        pytest.skip("dkms not installed (scripts/install-deps installs it)")
    deb = packages["vlm-drivers-dkms"]
    version = deb_field(deb, "Version")
    check(["dpkg-deb", "-x", str(deb), str(tmp_path / "pkg")])
    source = tmp_path / "pkg/usr/src"
    assert (source / f"vlm-drivers-{version}/dkms.conf").exists()
    trees = ["--dkmstree", str(tmp_path / "dkms"), "--sourcetree", str(source),
             "--installtree", str(tmp_path / "modules")]
    (tmp_path / "dkms").mkdir()
    # A signing key DKMS would otherwise create in /var/lib/dkms.
    env = dict(os.environ, sign_file="/nonexistent")
    env.pop("MAKEFLAGS", None)
    check(["dkms", "add", "-m", "vlm-drivers", "-v", version, *trees], env=env)

    expected = {kernel_release(): {"vlmpsustatus", "vmspname"},
                kernel_release("--arch", "i386"): {"vmspname"}}
    for kernel, modules in expected.items():
        (tmp_path / "modules" / kernel).mkdir(parents=True)
        check(["dkms", "install", "-m", "vlm-drivers", "-v", version, "-k", kernel,
               "--no-depmod", "-j", "2", *trees], env=env)
        installed = tmp_path / "modules" / kernel / "updates/dkms"
        assert {p.stem for p in installed.glob("*.ko")} == modules, kernel
        for module in modules:
            vermagic = check(["modinfo", "-F", "vermagic", str(installed / f"{module}.ko")]).stdout
            assert vermagic.split()[0] == kernel


# The service ----------------------------------------------------------------

def test_service_sandbox_leaves_the_agent_its_work(packages):
    """The package booted under systemd in a container: the agent under the
    unit's sandbox (see service-sandbox-check for what is checked)."""
    if shutil.which("systemd-nspawn") is None:
        pytest.skip("systemd-nspawn not installed (scripts/install-deps installs systemd-container)")
    r = run([str(REPO / "tests/packaging/service-sandbox-check"), str(packages["vlm-subagent"])],
            timeout=300)
    if r.returncode == 77:
        pytest.skip("the service's container cannot run here: " + r.stderr.strip().splitlines()[-1])
    print(r.stdout)
    assert r.returncode == 0, r.stdout + r.stderr
