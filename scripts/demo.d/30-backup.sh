# Demo: status, then a zip backup and a folder backup of the gateway stand-in
start_gateway BACKUP_GATEWAY --serial LM4-DEMO-30 --state-dir "$DEMO_OUT/gateway-state"
run "$CLI" --action=get_status --ip "$BACKUP_GATEWAY"

mkdir -p "$DEMO_OUT/backup-zip" "$DEMO_OUT/backup-folder"
run "$CLI" --action=get_backup --ip "$BACKUP_GATEWAY" --backupfileout "$DEMO_OUT/backup-zip" --backupfileouttype zip
run unzip -l "$DEMO_OUT"/backup-zip/backup_*.zip
run "$CLI" --action=get_backup --ip "$BACKUP_GATEWAY" --backupfileout "$DEMO_OUT/backup-folder" \
  --backupfileouttype directory --backupconfig='["systemconfig","dali1","cd1"]'
run ls -l "$DEMO_OUT/backup-folder"
run tar -tvf "$DEMO_OUT/backup-folder/dali1.tar"
