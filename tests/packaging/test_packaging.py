# SPDX-License-Identifier: BSD-3-Clause
"""Installation and packages: `make install` into scratch roots, the Debian
packages built from the working tree, the agent package installed, upgraded
(also from 1.0.0, which shipped the configuration as a conffile) and removed
with dpkg in scratch roots (its maintainer scripts run there through
DPKG_ROOT), the DKMS sources built for the packaged kernel headers, the
systemd unit checked by systemd-analyze, and the package booted under
systemd in a container with snmpd set up as the README says
(service-sandbox-check).

The packages are built once per run (under a minute on two cores; the unit
tests are left to ctest); VLM_DEB_DIR=DIR uses the packages already in DIR
instead. VLM_BUILD names the CMake build directory holding the agent for
`make install` (default build).
"""

import gzip
import os
import re
import shutil
import subprocess
from pathlib import Path

import pytest

import readme_steps

REPO = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("VLM_BUILD", REPO / "build"))
if not BUILD.is_absolute():
    BUILD = REPO / BUILD
CONFIG = "etc/snmp/vlmSNMPsubagent.xml"
FACTORY = (REPO / "config" / "vlmSNMPsubagent.xml").read_bytes()
DROP_IN = (REPO / "config" / "snmpd.conf.d" / "vlm-subagent.conf").read_bytes()
SNMPTT_CONF = (REPO / "integrations" / "snmptt" / "vlm-subagent.conf").read_bytes()
SMARTCTL = (REPO / "packaging" / "vlm_smartctl").read_bytes()
MIB = "VELMORA-VLM-MIB.txt"
# Our module and the IETF modules it imports, in one directory once installed.
MIB_FILES = {p.name: p.read_bytes()
             for p in [REPO / "mibs" / MIB, *(REPO / "mibs" / "ietf").glob("*.txt")]}
MANPAGES = {p.name: p.read_bytes() for p in (REPO / "man").glob("*.8")}
# snmp_exporter's module configuration, its generator input and the alert
# rules (README, "Prometheus"), in DATADIR/prometheus once installed.
PROMETHEUS = {name: (REPO / "integrations/prometheus" / name).read_bytes()
              for name in ("generator.yml", "snmp.yml", "vlm-alerts.yml")}
# Net-SNMP's state of the subagent, which purge removes.
STATE = "var/lib/snmp/vlm-SNMP-subagent-demon.conf"
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


def seconds(value):
    """A systemd time span of whole seconds or minutes ("60", "5s", "1min")."""
    number, unit = re.fullmatch(r"(\d+)\s*(s|sec|min|)", value).groups()
    return int(number) * (60 if unit == "min" else 1)


def check_documentation(unit, root):
    """Each file:// of the unit's Documentation= is a file in `root` (the
    man: pages are looked up by systemd-analyze verify)."""
    uris = setting(unit, "Documentation").split()
    assert "man:vlm_subagent(8)" in uris
    for uri in uris:
        if uri.startswith("file:"):
            assert uri.startswith("file:///") and (root / uri[len("file:///"):]).is_file(), uri


def check_mib_directory(mibdir):
    """`mibdir` holds our module and the base modules it imports, and the
    README's -M and -m options name our objects with them and nothing else,
    under Debian's /etc/snmp/snmp.conf (its `mibs :` turns loading off)."""
    assert {p.name: p.read_bytes() for p in mibdir.iterdir()} == MIB_FILES
    walk = readme_steps.named_walk("BOARD").split()
    module = walk[walk.index("-m") + 1]
    r = check(["snmptranslate", "-M", str(mibdir), "-m", module, ".1.3.6.1.4.1.42424.100.1.8.0"])
    assert r.stdout.strip() == "VELMORA-VLM-MIB::vlmSysBootCount.0" and not r.stderr, r.stdout + r.stderr
    return walk[walk.index("-M") + 1]


def check_compat_mib_link(root):
    """Net-SNMP's own MIB directory keeps our module, as a link to ours;
    the base modules stay out of that directory, which other packages fill."""
    mibs = root / "usr/share/snmp/mibs"
    assert [p.name for p in mibs.iterdir()] == [MIB]
    assert (mibs / MIB).is_symlink() and not os.readlink(mibs / MIB).startswith("/")
    assert (mibs / MIB).read_bytes() == MIB_FILES[MIB]


def check_prometheus_directory(directory):
    """The three files of integrations/prometheus/, readable by everyone
    (the exporter and Prometheus run as user prometheus)."""
    assert {p.name: p.read_bytes() for p in directory.iterdir()} == PROMETHEUS
    for p in directory.iterdir():
        assert os.stat(p).st_mode & 0o777 == 0o644, p


def verify_unit(unit, agent, mandir):
    """systemd-analyze verify of `unit`, with ExecStart pointed at `agent`
    (the agent as installed in a scratch root; verify checks that the
    command exists) and man looking for the pages of Documentation= in
    `mandir` (the scratch root's). Any complaint fails."""
    if shutil.which("systemd-analyze") is None:
        pytest.skip("systemd-analyze not installed (scripts/install-deps installs systemd)")
    text = Path(unit).read_text()
    copy = Path(unit).parent.parent / ("verify-" + UNIT)
    copy.write_text("".join(
        f"ExecStart={agent}\n" if line.startswith("ExecStart=") else line + "\n"
        for line in text.splitlines()))
    r = run(["systemd-analyze", "verify", str(copy)], env=dict(os.environ, MANPATH=str(mandir)))
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
    assert {p.name: p.read_bytes() for p in (tmp_path / "usr/local/share/man/man8").iterdir()} == MANPAGES
    assert (tmp_path / CONFIG).read_bytes() == FACTORY
    data = tmp_path / "usr/local/share/vlm-subagent"
    assert (data / "vlmSNMPsubagent.xml").read_bytes() == FACTORY
    assert (data / "snmpd.conf.d/vlm-subagent.conf").read_bytes() == DROP_IN
    assert (data / "snmptt/vlm-subagent.conf").read_bytes() == SNMPTT_CONF
    check_mib_directory(data / "mibs")
    check_compat_mib_link(tmp_path)
    check_prometheus_directory(data / "prometheus")
    unit = tmp_path / default_unit_dir().lstrip("/") / UNIT
    assert setting(unit, "ExecStart") == "/usr/local/sbin/vlm_subagent"
    assert "file:///usr/local/share/doc/vlm-subagent/README.md" in setting(unit, "Documentation")
    assert (tmp_path / "usr/local/share/doc/vlm-subagent/README.md").read_bytes() == (REPO / "README.md").read_bytes()
    check_documentation(unit, tmp_path)
    verify_unit(unit, sbin / "vlm_subagent", tmp_path / "usr/local/share/man")


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
    assert "file:///usr/share/doc/vlm-subagent/README.md" in setting(unit, "Documentation")
    check_documentation(unit, tmp_path)

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


FACTORY_COPY = "usr/share/vlm-subagent/vlmSNMPsubagent.xml"


def conffiles(root):
    return run(["dpkg-query", f"--root={root.path}", "-W", "-f=${Conffiles}", "vlm-subagent"]).stdout


def beside_config(root):
    """What dpkg or the postinst left beside the configuration file
    (.dpkg-dist, .dpkg-old, a copy half made)."""
    return sorted(p.name for p in (root / CONFIG).parent.glob((root / CONFIG).name + ".*"))


def repack(deb, out, version, edit=None):
    """`deb` as version `version`, its tree changed by `edit(tree)` first if
    given: another package as far as dpkg can tell."""
    tree = out.with_suffix(".d")
    check(["dpkg-deb", "-R", str(deb), str(tree)])
    control = tree / "DEBIAN/control"
    control.write_text("".join(
        f"Version: {version}\n" if line.startswith("Version:") else line + "\n"
        for line in control.read_text().splitlines()))
    if edit is not None:
        edit(tree)
    check(["dpkg-deb", "--root-owner-group", "-b", str(tree), str(out)])
    shutil.rmtree(tree)
    return out


def with_factory(factory):
    """An edit for repack: another factory configuration file."""
    return lambda tree: (tree / FACTORY_COPY).write_bytes(factory)


def as_in_1_0_0(factory):
    """An edit for repack: the configuration shipped as 1.0.0 shipped it,
    `factory` at /etc/snmp as a conffile, none under /usr/share. (The
    maintainer scripts stay this version's: they leave an existing file
    alone, and 1.0.0's did not touch it at all.)"""
    def edit(tree):
        (tree / CONFIG).parent.mkdir(parents=True, exist_ok=True)
        (tree / CONFIG).write_bytes(factory)
        (tree / FACTORY_COPY).unlink(missing_ok=True)
        (tree / "DEBIAN/conffiles").write_text("/" + CONFIG + "\n")
    return edit


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
    for name, text in MANPAGES.items():
        assert gzip.decompress((root / "usr/share/man/man8" / (name + ".gz")).read_bytes()) == text

    # Copied by the postinst; not a conffile, which dpkg would find changed
    # (the agent rewrites it at every start) and ask about at every upgrade.
    assert (root / CONFIG).read_bytes() == FACTORY
    assert (root / FACTORY_COPY).read_bytes() == FACTORY
    assert "/" + CONFIG not in conffiles(root)
    assert beside_config(root) == []

    assert (root / "usr/share/vlm-subagent/snmpd.conf.d/vlm-subagent.conf").read_bytes() == DROP_IN
    assert (root / "usr/share/vlm-subagent/snmptt/vlm-subagent.conf").read_bytes() == SNMPTT_CONF
    readme_dir = check_mib_directory(root / "usr/share/vlm-subagent/mibs")
    assert readme_dir == "/usr/share/vlm-subagent/mibs"
    check_compat_mib_link(root)
    check_prometheus_directory(root / "usr/share/vlm-subagent/prometheus")

    unit = root / "lib/systemd/system" / UNIT
    assert setting(unit, "ExecStart") == "/usr/sbin/vlm_subagent"
    assert "snmpd.service" in setting(unit, "After").split()
    assert setting(unit, "Restart") == "on-failure"
    # An agent that cannot start is given up: StartLimitBurst restarts,
    # RestartSec apart, must fit in StartLimitIntervalSec (systemd's default,
    # 5 starts in 10 s, never stops one restarted every 5 s).
    burst = int(setting(unit, "StartLimitBurst"))
    assert burst * seconds(setting(unit, "RestartSec")) < seconds(setting(unit, "StartLimitIntervalSec"))
    # Enabled by the postinst (deb-systemd-helper under DPKG_ROOT).
    assert os.readlink(root / WANTS_LINK) == "/lib/systemd/system/" + UNIT
    check_documentation(unit, root.path)
    verify_unit(unit, root / "usr/sbin/vlm_subagent", root / "usr/share/man")


def test_upgrades_never_ask_and_keep_the_operators_configuration(packages, root, tmp_path):
    """Upgrades with no terminal (stdin empty: a conffile prompt would fail
    the upgrade and leave the package half-configured): from 1.0.0, which
    shipped the configuration as a conffile with other factory values, then
    to a later version with another factory file. The operator's file,
    boot count included, stays byte for byte; purge removes it after all."""
    deb = packages["vlm-subagent"]
    version = deb_field(deb, "Version")
    old_factory = FACTORY.replace(b'"maxTableRow">100<', b'"maxTableRow">50<')
    new_factory = FACTORY.replace(b'"maxTableRow">100<', b'"maxTableRow">200<')
    operator = old_factory.replace(b'"sysDeviceName"></detail>', b'"sysDeviceName">press 3</detail>')
    operator = operator.replace(b'"sysBootCount">0<', b'"sysBootCount">41<')
    assert len({FACTORY, old_factory, new_factory, operator}) == 4

    root.dpkg("-i", str(repack(deb, tmp_path / "old.deb", "1.0.0", as_in_1_0_0(old_factory))))
    assert "/" + CONFIG in conffiles(root)
    (root / CONFIG).write_bytes(operator)

    root.dpkg("-i", str(deb))
    assert root.status("vlm-subagent") == f"install ok installed {version}"
    assert (root / CONFIG).read_bytes() == operator
    assert beside_config(root) == []
    assert (root / FACTORY_COPY).read_bytes() == FACTORY

    root.dpkg("-i", str(repack(deb, tmp_path / "new.deb", version + "+1", with_factory(new_factory))))
    assert root.status("vlm-subagent") == f"install ok installed {version}+1"
    assert (root / CONFIG).read_bytes() == operator
    assert beside_config(root) == []
    assert (root / FACTORY_COPY).read_bytes() == new_factory

    # The service stays enabled and vlm_smartctl linked across the upgrades.
    assert os.readlink(root / WANTS_LINK) == "/lib/systemd/system/" + UNIT
    assert os.readlink(root / "usr/local/sbin/vlm_smartctl") == "/usr/sbin/vlm_smartctl"

    root.dpkg("-P", "vlm-subagent")
    assert not (root / CONFIG).exists()


def test_package_leaves_an_existing_configuration_alone(packages, root):
    # A board set up with make install moves to the package: its file stays
    # and dpkg has nothing to ask.
    deb = str(packages["vlm-subagent"])
    operator = FACTORY.replace(b'"sysBootCount">0<', b'"sysBootCount">41<')
    (root / "etc/snmp").mkdir(parents=True)
    (root / CONFIG).write_bytes(operator)
    root.dpkg("-i", deb)
    assert (root / CONFIG).read_bytes() == operator
    assert beside_config(root) == []
    root.dpkg("-P", "vlm-subagent")

    # A link into persistent storage that is not mounted (yet) is the
    # operator's file too: neither replaced nor written through; purge
    # removes the link only.
    (root / CONFIG).symlink_to("/nonexistent-vlm-persist/vlmSNMPsubagent.xml")
    root.dpkg("-i", deb)
    assert os.readlink(root / CONFIG) == "/nonexistent-vlm-persist/vlmSNMPsubagent.xml"
    assert beside_config(root) == []
    root.dpkg("-P", "vlm-subagent")
    assert not (root / CONFIG).is_symlink()


def test_remove_and_purge(packages, root):
    deb = packages["vlm-subagent"]
    root.dpkg("-i", str(deb))
    # What the agent leaves: Net-SNMP's state, a temporary a power cut left.
    (root / STATE).parent.mkdir(parents=True)
    (root / STATE).write_text("engineBoots 3\n")
    (root / (CONFIG + ".vlmtmp-Ab12Cd")).write_bytes(FACTORY[:40])
    root.dpkg("-r", "vlm-subagent")
    assert not (root / "usr/sbin/vlm_subagent").exists()
    assert not (root / "usr/local/sbin/vlm_smartctl").is_symlink()
    assert (root / CONFIG).read_bytes() == FACTORY  # the configuration outlives removal
    assert (root / STATE).exists()
    root.dpkg("-P", "vlm-subagent")
    assert not (root / CONFIG).exists()
    assert beside_config(root) == []
    assert not (root / STATE).exists()
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
