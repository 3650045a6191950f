# Demo: backups read and compared, and channel 1 exported back to CSV
# The zip backup taken earlier, as text.
run "$CLI" --action=show_backup --backupfilein "$(ls "$DEMO_OUT"/backup-zip/backup_*.zip)"

# A backup of the gateway whose channel 1 was set up from CSV, against the earlier one:
# exit status 1 because channel 1 changed (0 when nothing did).
mkdir -p "$DEMO_OUT/after-setup"
run "$CLI" --action=get_backup --ip "$SETUP_GATEWAY" --backupfileout "$DEMO_OUT/after-setup" --backupfileouttype zip
run "$CLI" --action=diff_backup --backupfilein "$(ls "$DEMO_OUT"/backup-zip/backup_*.zip)" \
  --with "$(ls "$DEMO_OUT"/after-setup/backup_*.zip)" || printf 'exit status %d\n' $?

# Channel 1 of that gateway back to CSV files in the imports' formats.
run "$CLI" --action=export_channel --ip "$SETUP_GATEWAY" --channel=1 \
  --channelcsvfile="\"$DEMO_OUT/channel1.csv\""
run "$CLI" --action=export_channel --ip "$SETUP_GATEWAY" --channel=1 \
  --channelgroupscsvfile="\"$DEMO_OUT/groups1.csv\""
run cat "$DEMO_OUT/channel1.csv" "$DEMO_OUT/groups1.csv"
