#!/usr/bin/python3
"""Stand-in for the MinIO client `mc` (not packaged in Debian): put first on
PATH under the name mc. Implements `config host add`, `cp [-a]` and `rm`
against the folder $MC_STANDIN_DIR (objects below objects/<alias>/...), and
appends each argument vector as a JSON line to $MC_STANDIN_DIR/argv.log.
Like mc, failures go to standard error with a non-zero exit status. Knobs:
MC_STANDIN_SECRET (the only secret key accepted), MC_STANDIN_SAY (print this
instead of acting, exit 0)."""
import json, os, shutil, sys

root = os.environ["MC_STANDIN_DIR"]
args = sys.argv[1:]
with open(os.path.join(root, "argv.log"), "a") as log:
    log.write(json.dumps(args) + "\n")
aliases_file = os.path.join(root, "aliases.json")
aliases = json.load(open(aliases_file)) if os.path.exists(aliases_file) else {}


def fail(msg):
    sys.stderr.write("mc: <ERROR> " + msg + "\n")
    sys.exit(1)


def place(target):
    alias = target.split("/", 1)[0]
    if alias not in aliases:
        return target, False
    return os.path.join(root, "objects", target), True


if "MC_STANDIN_SAY" in os.environ:
    print(os.environ["MC_STANDIN_SAY"])
elif args[:3] == ["config", "host", "add"] and len(args) == 7:
    alias, url, access, secret = args[3:]
    if secret != os.environ.get("MC_STANDIN_SECRET", secret):
        fail("Unable to initialize new alias from the provided credentials. The request signature we "
             "calculated does not match the signature you provided.")
    aliases[alias] = url
    json.dump(aliases, open(aliases_file, "w"))
    print("Added `%s` successfully." % alias)
elif args[:1] == ["cp"] and len(args) in (3, 4) and (len(args) == 3 or args[1] == "-a"):
    (src, src_remote), (dst, _) = place(args[-2]), place(args[-1])
    if not os.path.isfile(src):
        fail("Unable to validate source `%s`: Object does not exist." % args[-2] if src_remote else
             "Unable to read `%s`: no such file." % args[-2])
    os.makedirs(os.path.dirname(dst), exist_ok=True)
    shutil.copyfile(src, dst)
    print("`%s` -> `%s`" % (args[-2], args[-1]))
elif args[:1] == ["rm"] and len(args) == 2:
    target, remote = place(args[1])
    if not remote or not os.path.isfile(target):
        fail("Failed to remove `%s`. Object does not exist." % args[1])
    os.remove(target)
    print("Removed `%s`." % args[1])
else:
    fail("unsupported command " + " ".join(args))
