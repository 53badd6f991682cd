#!/usr/bin/env python3
"""Writes the project's home into OUT: index.html, in Spanish with an
English section, and releases/VERSION/index.html, which lists every file of
the release. The downloads are the README's table, so that the two never
tell a user different things; each file it names links to this release's
copy, with its size, SHA-256 and signature.

usage: home.py OUT DIST VERSION FINGERPRINT HOME_ADDRESS LATER_FILE...

LATER_FILE names the files that the release makes after the home (its own
tarball, the sums, the key): listed, without the digest they do not have
yet. The pages load nothing and run nothing: one style, allowed by its
digest."""
import base64
import hashlib
import html
import os
import re
import sys

out, dist, version, fingerprint, home = sys.argv[1:6]
later = sys.argv[6:]
files_place = f"releases/{version}"
# The releases after this one are published under the home; it and the
# earlier ones never were.
last_unpublished = (1, 2, 0)

# No text under 14px, not even in <small>, which the browser makes 13.3px.
style = """
body { font: 100%/1.5 system-ui, sans-serif; margin: 0 auto; max-width: 46rem; padding: 0 1rem 3rem;
       color: #1b1b1b; background: #fff; }
@media (prefers-color-scheme: dark) { body { color: #e8e8e8; background: #121212; } a { color: #8cb4ff; } }
h1 { font-size: 2rem; margin-bottom: 0; }
pre, code { font-family: ui-monospace, monospace; font-size: 0.9rem; }
small { font-size: 0.875rem; }
pre { overflow-x: auto; padding: 0.5rem; border: 1px solid #8888; }
.hash, p code { overflow-wrap: anywhere; }
ul.downloads { list-style: none; padding: 0; }
ul.downloads > li { border-top: 1px solid #8888; padding: 0.5rem 0; }
dl { display: grid; grid-template-columns: max-content 1fr; gap: 0 0.75rem; margin: 0.25rem 0; }
dd { margin: 0; min-width: 0; }
"""
policy = ("default-src 'none'; img-src 'self'; style-src 'sha256-"
          + base64.b64encode(hashlib.sha256(style.encode()).digest()).decode()
          + "'; base-uri 'none'; form-action 'none'")


def page(title, description, body, up=""):
    return f"""<!DOCTYPE html>
<html lang="es">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta http-equiv="Content-Security-Policy" content="{policy}">
<meta name="description" content="{html.escape(description)}">
<title>{html.escape(title)}</title>
<link rel="icon" href="{up}icon.svg" type="image/svg+xml">
<style>{style}</style>
</head>
<body>
{body}
</body>
</html>
"""


def size(name):
    n = os.path.getsize(os.path.join(dist, name))
    return f"{n} B" if n < 1000 else f"{n / 1000:.0f} kB" if n < 1000000 else f"{n / 1000000:.1f} MB"


def digest(name):
    with open(os.path.join(dist, name), "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def signature(name):
    """Its own signature (gpg's .asc, pacman's .sig), or the sums'."""
    return next((name + ext for ext in (".asc", ".sig") if name + ext in names), "SHA256SUMS.asc")


def facts(name, prefix):
    """A file's link with its size, SHA-256 and signature."""
    link = f'<a href="{prefix}{html.escape(name)}"><code>{html.escape(name)}</code></a>'
    if name in later:
        return f'{link} <small lang="es">(su SHA-256 está en <code>SHA256SUMS</code>)</small>'
    sig = signature(name)
    return (f'{link}<dl lang="es"><dt>tamaño</dt><dd>{size(name)}</dd>'
            f'<dt>SHA-256</dt><dd class="hash"><code>{digest(name)}</code></dd>'
            f'<dt>firma</dt><dd><a href="{prefix}{sig}"><code>{sig}</code></a></dd></dl>')


present = sorted(n for n in os.listdir(dist) if os.path.isfile(os.path.join(dist, n)))
names = sorted(set(present) | set(later))
with open("README.md", encoding="utf-8") as f:
    readme = f.read()
with open("NEWS", encoding="utf-8") as f:
    news = f.read()


def inline(text):
    """The README's Markdown inline: code spans and the rest escaped; a code
    span that names a file of the release links to it."""
    parts = re.split(r"`([^`]*)`", text)
    result = []
    for i, part in enumerate(parts):
        if i % 2 == 0:
            result.append(html.escape(part, quote=False))
        elif part in names:
            result.append(facts(part, files_place + "/"))
        elif re.match(r"pathloss[-_][0-9]", part) and "ARCH" not in part:
            # A file this release has not: a README left at another version,
            # or a release of some rows only.
            stale = not part.startswith((f"pathloss-{version}", f"pathloss_{version}"))
            if stale:
                sys.exit(f"home: README.md's Downloads names {part}, not of version {version}")
            result.append(f'<code>{html.escape(part)}</code> <small lang="es">(no está en esta versión)</small>')
        else:
            result.append(f"<code>{html.escape(part)}</code>")
    return "".join(result)


def downloads():
    section = readme.split("\n## Downloads\n", 1)[1].split("\n## ", 1)[0]
    rows = [line for line in section.splitlines() if line.startswith("|")][2:]
    items = []
    for row in rows:
        machine, file, how = (cell.strip() for cell in row.strip("|").split(" | "))
        items.append(f"<li><h3>{inline(machine)}</h3>\n<div>{inline(file)}</div>\n<p>{inline(how)}</p></li>")
    if not items:
        sys.exit("home: README.md has no Downloads table")
    return '<ul class="downloads" lang="en">\n' + "\n".join(items) + "\n</ul>"


def sample():
    block = readme.split("A session, typed at the two questions:\n\n", 1)[1].split("\n\n    Pulse")[0]
    return "\n".join(line[4:] for line in block.splitlines()) + "\n\nPulse Intro para continuar"


def releases():
    """NEWS's released versions, newest first: (version, heading, text)."""
    entries = re.split(r"\n(?=\* )", news)
    found = []
    for entry in entries:
        m = re.match(r"\* Version ([0-9.]+) .*", entry)
        if m:
            found.append((m.group(1), m.group(0), entry.split("\n", 1)[1].strip("\n")))
    return found


def history():
    items = []
    for number, heading, text in releases():
        this = number == version
        published = tuple(int(x) for x in number.split(".")) > last_unpublished
        name = html.escape(heading[2:])
        if this:
            name += " (esta)"
        elif published:
            name = f'<a href="releases/{number}/">{name}</a>'
        items.append(f"<h3>{name}</h3>\n<pre lang=\"en\">{html.escape(text)}</pre>")
    return "\n".join(items)


def repository(name, anchor, heading, text):
    """How a package manager takes the project's repository, in a release
    that has it: TEXT, where {file} links to NAME, then NAME itself."""
    if name not in present:
        return ""
    with open(os.path.join(dist, name), encoding="utf-8") as f:
        settings = f.read()
    link = f'<a href="{files_place}/{name}"><code>{name}</code></a>'
    return f"""<section aria-labelledby="{anchor}">
<h2 id="{anchor}">{heading}</h2>
<p>{text.format(file=link)}</p>
<pre>{html.escape(settings)}</pre>
</section>"""


repositories = "\n".join([
    repository("pathloss.sources", "apt", "Con apt, en Debian, Ubuntu o Raspberry Pi OS",
               "Guarde {file} en <code>/etc/apt/sources.list.d/</code>; después <code>sudo apt update "
               "&amp;&amp; sudo apt install pathloss</code>, y cada versión nueva llega con <code>sudo apt "
               "upgrade</code>. Lleva dentro la clave:"),
    repository("pathloss.repo", "dnf", "Con dnf o zypper, en Fedora, RHEL, AlmaLinux, Rocky u openSUSE",
               "Guarde {file} en <code>/etc/yum.repos.d/</code>; después <code>sudo dnf install "
               "pathloss</code>, y cada versión nueva llega con <code>sudo dnf upgrade</code>. En openSUSE, "
               f"<code>sudo zypper addrepo {html.escape(home)}rpm/pathloss.repo</code> y <code>sudo zypper "
               "install pathloss</code>. dnf y zypper toman la clave de su dirección y piden confirmarla: "
               "compruebe que su huella es la de arriba."),
    repository("pathloss-pacman.conf", "pacman",
               "Con pacman, en Arch, Manjaro, EndeavourOS, Arch Linux ARM o Arch Linux 32",
               "Confíe en la clave y añada a <code>/etc/pacman.conf</code> las líneas de {file}, como "
               "dice; después <code>sudo pacman -Sy pathloss</code>, y cada versión nueva llega con "
               "<code>sudo pacman -Syu</code>:"),
])

app = home + "app/"
index = f"""<header>
<h1>pathloss</h1>
<p>Calculadora de la atenuación en espacio libre para radioaficionados. Pide la frecuencia en MHz y
la distancia en km, da la atenuación del enlace en dB con la fórmula
20·log10(f) + 20·log10(d) + 32.5, y la de la misma distancia en ocho bandas de aficionados,
de 144 MHz a 47088 MHz. Cada cifra es la misma, hasta el último decimal, en cada máquina.</p>
<p>Versión {version}.</p>
</header>
<main>
<section aria-labelledby="ejemplo">
<h2 id="ejemplo">Un ejemplo</h2>
<pre>{html.escape(sample())}</pre>
</section>
<section aria-labelledby="aplicacion">
<h2 id="aplicacion">La aplicación</h2>
<p><a href="app/">Abrir la calculadora</a>, en <code>{html.escape(app)}</code>. En un teléfono, una
tableta, un Mac o un Chromebook se instala desde esa dirección como cualquier aplicación, y después
funciona sin red.</p>
</section>
<section aria-labelledby="descargas">
<h2 id="descargas">Descargas</h2>
<p>Un archivo para cada máquina (la tabla del README, en inglés). <a href="{files_place}/">Todos los
archivos de la versión {version}</a>, con su tamaño, SHA-256 y firma.</p>
{downloads()}
</section>
<section aria-labelledby="clave">
<h2 id="clave">Comprobar una descarga</h2>
<p>Todo se firma con la clave del proyecto, de huella</p>
<p class="hash"><code>{fingerprint}</code></p>
<p>Esta página es el sitio de donde tomarla; la clave misma está en
<a href="{files_place}/pathloss-signing-key.asc"><code>pathloss-signing-key.asc</code></a>.
En la carpeta de las descargas, en Debian 13:</p>
<pre>sqv --keyring pathloss-signing-key.asc SHA256SUMS.asc SHA256SUMS
sha256sum -c --ignore-missing SHA256SUMS</pre>
<p><code>sqv</code> debe escribir la huella de arriba, y <code>sha256sum</code> «OK» para cada
archivo. En Debian 12, <code>gpg --dearmor &lt;pathloss-signing-key.asc &gt;key.gpg</code> y
<code>gpgv --keyring ./key.gpg SHA256SUMS.asc SHA256SUMS</code>.</p>
</section>
{repositories}
<section aria-labelledby="novedades">
<h2 id="novedades">Novedades</h2>
{history()}
</section>
<section lang="en" aria-labelledby="english">
<h2 id="english">In English</h2>
<p>pathloss is a console calculator for radio amateurs: the free-space path loss of a radio link,
in Spanish. <a href="app/">The app</a> runs in any browser from 2023 on, and installs on phones and
tablets. The downloads above are for every machine: pick the row for yours. Check them with the key
whose fingerprint is above, as the commands show; apt, dnf, zypper and pacman do it by
themselves with <code>pathloss.sources</code>, <code>pathloss.repo</code> and
<code>pathloss-pacman.conf</code>. <a href="{files_place}/">Every file of release {version}</a>.</p>
</section>
</main>
"""
description = ("pathloss: la atenuación en espacio libre de un enlace de radio, para radioaficionados; "
               "la aplicación, las descargas firmadas y los repositorios de apt, dnf y pacman.")
os.makedirs(os.path.join(out, files_place), exist_ok=True)
with open(os.path.join(out, "index.html"), "w", encoding="utf-8") as f:
    f.write(page("pathloss, la atenuación en espacio libre", description, index))

items = "".join(f"<li>{facts(n, '')}</li>\n" for n in names)
listing = f"""<header>
<h1>pathloss {version}</h1>
<p>Todos los archivos de la versión, firmados por la clave de huella</p>
<p class="hash"><code>{fingerprint}</code></p>
<p><a href="../../">La página del proyecto</a> dice cuál es para cada máquina y cómo comprobarlos.</p>
</header>
<main>
<ul class="downloads">
{items}</ul>
</main>
"""
with open(os.path.join(out, files_place, "index.html"), "w", encoding="utf-8") as f:
    f.write(page(f"pathloss {version}: archivos", f"Todos los archivos de pathloss {version}, firmados.",
                 listing, "../../"))
