# How the test clients sign on to the servers of servers.sh: purple_peer's
# "account" command and Finch's configuration. Source it after servers.sh;
# do not run it.

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

# finch_config DIR PLUGIN DOWNLOADS: Finch's configuration in DIR for ann
# over XMPP (ann@localhost/finch, signed on at start): the plug-in PLUGIN
# loaded and on, files asked for saved in DOWNLOADS, transfers offered on
# loopback, conversations and system events logged as text.
finch_config() {
  mkdir -p "$1"
  cat >"$1/accounts.xml" <<XML
<?xml version='1.0' encoding='UTF-8' ?>
<account version='1.0'>
 <account>
  <protocol>prpl-jabber</protocol>
  <name>ann@localhost/finch</name>
  <password>pw</password>
  <settings>
   <setting name='connect_server' type='string'>127.0.0.1</setting>
   <setting name='auth_plain_in_clear' type='bool'>1</setting>
   <setting name='connection_security' type='string'>opportunistic_tls</setting>
   <setting name='ft_proxies' type='string'></setting>
  </settings>
  <settings ui='gnt-purple'>
   <setting name='auto-login' type='bool'>1</setting>
  </settings>
 </account>
</account>
XML
  cat >"$1/prefs.xml" <<XML
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
 <pref name='finch'>
  <pref name='plugins'>
   <pref name='loaded' type='pathlist'>
    <item value='$2'/>
   </pref>
  </pref>
 </pref>
 <pref name='plugins'>
  <pref name='core'>
   <pref name='zuvo-file-sharing'>
    <pref name='downloads' type='string' value='$3'/>
    <pref name='start_on' type='bool' value='1'/>
   </pref>
  </pref>
 </pref>
</pref>
XML
}
