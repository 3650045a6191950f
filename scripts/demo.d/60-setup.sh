# Demo: channel 1 set up from the example channel and group CSV files, then read back
start_gateway SETUP_GATEWAY --serial LM4-DEMO-60
run "$CLI" --action=setup_channel --ip "$SETUP_GATEWAY" --channel=1 \
  --channelcsvfile="\"$ROOT/examples/channel.csv\""
run "$CLI" --action=setup_channel --ip "$SETUP_GATEWAY" --channel=1 \
  --channelgroupscsvfile="\"$ROOT/examples/groups.csv\""

mkdir -p "$DEMO_OUT/setup-readback"
run "$CLI" --action=get_backup --ip "$SETUP_GATEWAY" --backupfileout "$DEMO_OUT/setup-readback" \
  --backupfileouttype directory --backupconfig='["dali1"]'
# Gear and group names of the record the gateway now holds (firmware 1.5.0: record version 3).
run python3 - "$DEMO_OUT/setup-readback/dali1.tar" <<'PY'
import struct, sys, tarfile
record = tarfile.open(sys.argv[1]).extractfile("/etc/config/dali/dali1.bin").read()
length, _, version, _ = struct.unpack_from("<4I", record)
print("record version %d, %d bytes" % (version, length))
name = lambda at: record[at:at + 33].split(b"\0")[0].decode()
for slot in range(64):
    at = 60 + 100 * slot
    flags, address = struct.unpack_from("<I", record, at)[0], record[at + 11]
    if flags & 2 or flags & 8:
        where = "address %d" % ((address - 1) // 2) if flags & 1 else "no address"
        print("gear %2d  %-28s %-11s groups %s" % (slot, name(at + 45), where,
              [g for g in range(16) if struct.unpack_from("<H", record, at + 18)[0] >> g & 1]))
for group in range(16):
    at = 6460 + 38 * group
    if record[at + 36] == 255:
        print("group %2d %s" % (group, name(at)))
PY
