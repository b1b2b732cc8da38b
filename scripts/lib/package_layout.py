"""What a Windows package of Skerrow holds: shared by the packer and the check."""
import re

# Per architecture: the preset that builds it, the PE machine field of its
# programs and modules, and its word size.
ARCHES = {
    'x86': {'preset': 'mingw32', 'machine': 0x14C, 'bits': 32},
    'x64': {'preset': 'mingw64', 'machine': 0x8664, 'bits': 64},
}

# Member (below the top folder) -> where it comes from: a build output
# relative to the build folder, or a template in packaging/.
PROGRAMS = {
    'skerrow.exe': 'skerrow.exe',
    'skerrowctl.exe': 'tools/skerrowctl/skerrowctl.exe',
    'stand-in/Type0001.md3': 'sim/camera/Type0001.md3',
}
TEXTS = {
    'Skerrow.ini': 'Skerrow.ini',
    'README-Windows.txt': 'README-Windows.txt',
    'stand-in/README.txt': 'stand-in-README.txt',
}
# Members that are loaded as a module, not run as a program.
MODULES = {'stand-in/Type0001.md3'}

ZIP_NAME = re.compile(r'^skerrow-(?P<version>[A-Za-z0-9._+-]+)-windows-(?P<arch>x86|x64)\.zip$')


def top_folder(version, arch):
    return f'skerrow-{version}-windows-{arch}'


def zip_name(version, arch):
    return top_folder(version, arch) + '.zip'


def members(version, arch):
    """Every file of the package, with its folder, in a fixed order."""
    top = top_folder(version, arch)
    return sorted(f'{top}/{name}' for name in list(PROGRAMS) + list(TEXTS))


def fill_template(text, version, arch):
    """The template with its placeholders filled and Windows line ends."""
    bits = ARCHES[arch]['bits']
    for key, value in (('VERSION', version), ('ARCH', arch), ('BITS', str(bits))):
        text = text.replace(f'@{key}@', value)
    return text.replace('\r\n', '\n').replace('\n', '\r\n')

