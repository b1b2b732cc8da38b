"""The configuration keys the server reads, and those a Skerrow.ini names.

The server's keys are taken from src/core/config.cpp itself, so that a key
added there and forgotten in the shipped Skerrow.ini fails the check.
"""
import re

# Calls that name a section and a key as literals; readParity names only the
# section, the key being "parity".
KEY_CALL = re.compile(r'\b(?:iniGetInt|iniGetString|readText)\(\s*"(\w+)",\s*"(\w+)"')
PARITY_CALL = re.compile(r'\breadParity\(\s*"(\w+)"')


def server_keys(config_source):
    """{(section, key)} of every key config.cpp reads, in lower case."""
    keys = {(s.lower(), k.lower()) for s, k in KEY_CALL.findall(config_source)}
    keys |= {(s.lower(), 'parity') for s in PARITY_CALL.findall(config_source)}
    return keys


SECTION = re.compile(r'^\[(\w+)\]\s*$')
# A key shipped commented out: ";key=value", with no blank after the ";",
# which sets it apart from the prose comments.
COMMENTED_KEY = re.compile(r'^;(\w+)=')


def ini_keys(text):
    """({(section, key)} named by the commented-out key lines of an INI
    text, [keys set without the comment mark])."""
    keys = set()
    active = []
    section = None
    for line in text.splitlines():
        header = SECTION.match(line)
        if header:
            section = header.group(1).lower()
            continue
        commented = COMMENTED_KEY.match(line)
        if commented and section:
            keys.add((section, commented.group(1).lower()))
        elif line.strip() and not line.lstrip().startswith(';'):
            active.append(line.strip())
    return keys, active
