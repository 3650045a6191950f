# Demo: firmware upgrade: a package for LUMARO-2 version 1.6.0 pushed to a stand-in running 1.5.0
FWMAKER="$BUILD/tools/dev/fwmaker"
start_gateway FIRMWARE_GATEWAY --model LUMARO-2 --firmware-version 1.5.0
run "$FWMAKER" image "$DEMO_OUT/lumaro2-1.6.0.binary" --model LUMARO-2 \
  --description "LUMARO two-channel gateway" --version 1.6.0 --number 0x010600 --channels 2 --size 4194304
run "$FWMAKER" package "$DEMO_OUT/lumaro2-1.6.0.bin" "$DEMO_OUT/lumaro2-1.6.0.binary"
run "$CLI" --action=push_firmware --ip "$FIRMWARE_GATEWAY" --firmwarefile="$DEMO_OUT/lumaro2-1.6.0.bin"

printf '\n$ curl -s http://%s/api/v100/status.ssi\n' "$FIRMWARE_GATEWAY"
firmware_status=$(curl -s "http://$FIRMWARE_GATEWAY/api/v100/status.ssi")
printf '%s\n' "$firmware_status" | grep -o '"model_name":"[^"]*"\|"firmware_version":"[^"]*"'
case $firmware_status in
  *'"firmware_version":"1.6.0"'*) ;;
  *) echo "the stand-in does not report firmware 1.6.0" >&2; exit 1 ;;
esac
