# How the test clients sign on to the servers of servers.sh: purple_peer's
# "account" command and the configuration of Finch and Pidgin. Source it
# after servers.sh; do not run it.

# peer_account ALIAS USER SERVER [RESOURCE]: purple_peer's command that signs
# USER on to SERVER (one of servers.sh) as ALIAS; over XMPP as
# USER@localhost/RESOURCE (default "peer").
peer_account() {
  if is_xmpp_server "$3"; then
    echo "account $1 prpl-jabber $2@localhost/${4:-peer} pw connect_server=127.0.0.1 ft_proxies=" \
      "auth_plain_in_clear=b:1 connection_security=opportunistic_tls"
  else
    echo "account $1 prpl-irc $2@127.0.0.1 - port=i:6667"
  fi
}

# client_config UI DIR PLUGIN DOWNLOADS: the configuration of Finch (UI
# "finch") or Pidgin ("pidgin") in DIR for ann over XMPP
# (ann@localhost/UI, signed on at start): the plug-in PLUGIN loaded, sharing
# on as a fresh install has it (no shared folder), files asked for saved in
# DOWNLOADS, transfers offered on loopback, conversations and system events
# logged as text.
client_config() {
  local ui_id
  case $1 in
    finch) ui_id=gnt-purple ;;
    pidgin) ui_id=gtk-gaim ;;
    *) echo "client_config: unknown client $1" >&2; return 64 ;;
  esac
  mkdir -p "$2"
  cat >"$2/accounts.xml" <<XML
<?xml version='1.0' encoding='UTF-8' ?>
<account version='1.0'>
 <account>
  <protocol>prpl-jabber</protocol>
  <name>ann@localhost/$1</name>
  <password>pw</password>
  <settings>
   <setting name='connect_server' type='string'>127.0.0.1</setting>
   <setting name='auth_plain_in_clear' type='bool'>1</setting>
   <setting name='connection_security' type='string'>opportunistic_tls</setting>
   <setting name='ft_proxies' type='string'></setting>
  </settings>
  <settings ui='$ui_id'>
   <setting name='auto-login' type='bool'>1</setting>
  </settings>
 </account>
</account>
XML
  cat >"$2/prefs.xml" <<XML
<?xml version='1.0' encoding='UTF-8' ?>
<pref version='1' name='/'>
 <pref name='purple'>
  <pref name='network'>
   <pref name='auto_ip' type='bool' value='0'/>
   <pref name='public_ip' type='string' value='127.0.0.1'/>
  </pref>
  <pref name='logging'>
   <pref name='format' type='string' value='txt'/>
   <pref name='log_ims' type='bool' value='1'/>
   <pref name='log_system' type='bool' value='1'/>
  </pref>
 </pref>
 <pref name='$1'>
  <pref name='plugins'>
   <pref name='loaded' type='pathlist'>
    <item value='$3'/>
   </pref>
  </pref>
 </pref>
 <pref name='plugins'>
  <pref name='core'>
   <pref name='zuvo-file-sharing'>
    <pref name='downloads' type='string' value='$4'/>
    <pref name='start_on' type='bool' value='1'/>
   </pref>
  </pref>
 </pref>
</pref>
XML
}
