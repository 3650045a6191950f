# Demo: a backup of firmware 1.3.0 (version-1 channel records) restored onto firmware 1.5.0
start_gateway OLD_GATEWAY --model LUMARO-4 --firmware-version 1.3.0 --serial LM4-DEMO-OLD
start_gateway NEW_GATEWAY --model LUMARO-4 --firmware-version 1.5.0 --serial LM4-DEMO-NEW

mkdir -p "$DEMO_OUT/restore-source" "$DEMO_OUT/restore-readback"
run "$CLI" --action=get_backup --ip "$OLD_GATEWAY" --backupfileout "$DEMO_OUT/restore-source" --backupfileouttype zip
run "$CLI" --action=put_backup --ip "$NEW_GATEWAY" --backupfilein "$(ls "$DEMO_OUT"/restore-source/backup_*.zip)"
run "$CLI" --action=get_backup --ip "$NEW_GATEWAY" --backupfileout "$DEMO_OUT/restore-readback" \
  --backupfileouttype directory --backupconfig='["dali1","dali2","dali3","dali4","cd1"]'

# The record headers before (backup of 1.3.0) and after (read back from 1.5.0).
run python3 - "$DEMO_OUT"/restore-source/backup_*.zip "$DEMO_OUT/restore-readback" <<'PY'
import io, os, struct, sys, tarfile, zipfile
backup, readback = sys.argv[1], sys.argv[2]
def record(tar_bytes, name):
    return tarfile.open(fileobj=io.BytesIO(tar_bytes)).extractfile(name).read()
def show(label, data):
    length, crc, version, changes = struct.unpack_from("<4I", data)
    print("  %-10s version %d  length %5d  %5d bytes  change count %d  crc 0x%04x" %
          (label, version, length, len(data), changes, crc))
with zipfile.ZipFile(backup) as z:
    for name in ("dali1", "dali2", "dali3", "dali4", "cd1"):
        path = "/etc/config/dali/%s.bin" % name
        print(path)
        show("backup", record(z.read(name + ".tar"), path))
        with open(os.path.join(readback, name + ".tar"), "rb") as f:
            after = record(f.read(), path)
        show("restored", after)
        if name.startswith("dali") and len(after) != 7072:
            sys.exit("the 1.5.0 stand-in does not hold a converted 7072-byte record")
PY
