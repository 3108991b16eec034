// Mozilla User Preferences

user_pref("network.proxy.http", "10.0.0.1");
user_pref("network.proxy.http_port", 8080);
user_pref("network.proxy.type", 1);
