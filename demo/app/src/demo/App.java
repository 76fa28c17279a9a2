package demo;

import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.DirectoryStream;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardWatchEventKinds;
import java.nio.file.WatchKey;
import java.nio.file.WatchService;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.concurrent.TimeUnit;

/** The demo's main application: asks for an update until it runs as version 2. */
public final class App {
    private static final int EXIT_DO_UPDATE = 21;

    public static void main(String[] args) throws IOException, InterruptedException {
        String version = readVersion();
        long maxHeapMb = Runtime.getRuntime().maxMemory() / (1024 * 1024);
        System.out.println("[app] version " + version + " running in " + System.getProperty("user.dir")
                + " (max heap " + maxHeapMb + " MB, demo.greeting=" + System.getProperty("demo.greeting") + ")");
        String[] opened = launcherArgs(args);
        if (opened.length > 0) {
            System.out.println("[app] opened with " + opened.length + " argument(s): " + String.join(" | ", opened));
        }
        String inbox = System.getenv("LAUNCHER_INBOX");
        if (inbox != null) {
            handleRequests(Paths.get(inbox));
        }
        if (version.equals("1")) {
            System.out.println("[app] version 2 is available: exiting with " + EXIT_DO_UPDATE + " to ask for the update");
            System.exit(EXIT_DO_UPDATE);
        }
        // A real app watches until its window closes; the demo for as long as DEMO_WATCH_SECONDS
        // pass without a request.
        String watch = System.getenv("DEMO_WATCH_SECONDS");
        if (inbox != null && watch != null) {
            watchInbox(Paths.get(inbox), Integer.parseInt(watch));
        }
        System.out.println("[app] up to date: exiting with 0");
        System.exit(0);
    }

    /** Handles the requests of later launches in the order they came, each once. */
    static void handleRequests(Path inbox) throws IOException {
        List<Path> requests = new ArrayList<>();
        try (DirectoryStream<Path> found = Files.newDirectoryStream(inbox, "*.request")) {
            found.forEach(requests::add);
        }
        Collections.sort(requests);
        for (Path request : requests) {
            byte[] bytes;
            try {
                bytes = Files.readAllBytes(request);
            } catch (NoSuchFileException handledAlready) {
                continue;
            }
            Files.deleteIfExists(request);
            // The working directory, then each argument; each ends with a NUL byte.
            List<String> parts = new ArrayList<>();
            for (int start = 0, end; (end = indexOfNul(bytes, start)) >= 0; start = end + 1) {
                parts.add(new String(bytes, start, end - start, StandardCharsets.UTF_8));
            }
            if (parts.isEmpty()) {
                continue;
            }
            String opened = parts.size() > 1 ? String.join(" | ", parts.subList(1, parts.size()))
                    : "nothing to open: coming to the front";
            System.out.println("[app] handed over from " + parts.get(0) + ": " + opened);
        }
    }

    private static int indexOfNul(byte[] bytes, int from) {
        for (int i = from; i < bytes.length; i++) {
            if (bytes[i] == 0) {
                return i;
            }
        }
        return -1;
    }

    /** Handles each request as it arrives until idleSeconds pass without one. */
    static void watchInbox(Path inbox, int idleSeconds) throws IOException, InterruptedException {
        try (WatchService watcher = inbox.getFileSystem().newWatchService()) {
            inbox.register(watcher, StandardWatchEventKinds.ENTRY_CREATE);
            System.out.println("[app] watching its inbox");
            // What came between the start and the watch.
            handleRequests(inbox);
            for (WatchKey key; (key = watcher.poll(idleSeconds, TimeUnit.SECONDS)) != null; key.reset()) {
                key.pollEvents();
                handleRequests(inbox);
            }
        }
    }

    /** The launcher's arguments exactly as given; args where the launcher set none. */
    static String[] launcherArgs(String[] args) {
        String count = System.getenv("LAUNCHER_ARGC");
        if (count == null) {
            return args;
        }
        String[] exact = new String[Integer.parseInt(count)];
        for (int i = 0; i < exact.length; i++) {
            exact[i] = System.getenv("LAUNCHER_ARG" + (i + 1));
        }
        return exact;
    }

    private static String readVersion() throws IOException {
        try (InputStream in = App.class.getResourceAsStream("/demo/version.txt")) {
            if (in == null) {
                throw new IOException("version.txt is missing from the class path");
            }
            return new String(in.readAllBytes(), StandardCharsets.UTF_8).trim();
        }
    }
}
