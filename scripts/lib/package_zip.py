"""Packs one Windows build of Skerrow into dist/skerrow-<version>-windows-<arch>.zip.

usage: package_zip.py ARCH BUILD_DIR VERSION TEMPLATE_DIR OUT_DIR

Prints the zip's path. The zip is written under a temporary name and moved
into place only when complete, so a failed run leaves no partial package.
"""
import os
import sys
import time
import zipfile

from package_layout import ARCHES, PROGRAMS, TEXTS, fill_template, top_folder, zip_name


def entry(name, stamp):
    info = zipfile.ZipInfo(name, date_time=time.localtime(stamp)[:6])
    info.compress_type = zipfile.ZIP_DEFLATED
    info.external_attr = 0o644 << 16
    return info


def pack(arch, build_dir, version, template_dir, out_dir):
    """Returns (zip path, error)."""
    sources = {name: os.path.join(build_dir, path) for name, path in PROGRAMS.items()}
    missing = [path for path in sources.values() if not os.path.isfile(path)]
    if missing:
        return None, 'not built: ' + ', '.join(missing)
    texts = {}
    for name, template in TEXTS.items():
        with open(os.path.join(template_dir, template), encoding='utf-8') as f:
            texts[name] = fill_template(f.read(), version, arch)
    # The texts carry the time of the server they describe.
    stamp = os.path.getmtime(sources['skerrow.exe'])
    top = top_folder(version, arch)
    os.makedirs(out_dir, exist_ok=True)
    final = os.path.join(out_dir, zip_name(version, arch))
    partial = final + '.partial'
    with zipfile.ZipFile(partial, 'w') as archive:
        for name in sorted(set(sources) | set(texts)):
            if name in sources:
                with open(sources[name], 'rb') as f:
                    data = f.read()
                archive.writestr(entry(f'{top}/{name}', os.path.getmtime(sources[name])), data)
            else:
                archive.writestr(entry(f'{top}/{name}', stamp), texts[name].encode('utf-8'))
    os.replace(partial, final)
    return final, None


def main(argv):
    if len(argv) != 6 or argv[1] not in ARCHES:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    path, error = pack(*argv[1:])
    if error:
        print(f'package: {argv[1]}: {error}', file=sys.stderr)
        return 1
    print(path)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
